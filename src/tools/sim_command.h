// `mbus sim`: a simulated household meter on a pseudo-terminal, registered in the port map as a
// COM port, answering the requests of every operation until it is interrupted or terminated.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "sim/meter_simulator.h"
#include "tools/command_io.h"

namespace mbus::tools {

int RunSimCommand(CommandArgs args, CommandIo io);

// The synopsis of `mbus sim`, the first lines of its help wherever it runs.
inline constexpr const char* kSimSynopsis =
    "usage: mbus sim [--meter TYPE:ADDRESS]... [--meters FILE] [--com N] [--baud N]\n"
    "                [--parity NAME] [--unpaced] [--preamble N] [--delay MS]\n"
    "                [--split N:GAP_MS] [--echo] [--corrupt-checksum] [--silent] [--noise]\n"
    "                [--silent-meter ADDRESS]... [--corrupt-meter ADDRESS]...\n"
    "                [--refuse-writes] [--swap-di]\n";

// The options of `mbus sim`: the ones that take a value, then the flags.
inline const std::set<std::string> kSimValueOptions{
    "--meter",    "--meters", "--com",   "--baud",         "--parity",
    "--preamble", "--delay",  "--split", "--silent-meter", "--corrupt-meter"};
inline const std::set<std::string> kSimFlags{"--echo",   "--corrupt-checksum", "--silent",
                                             "--noise",  "--unpaced",          "--refuse-writes",
                                             "--swap-di"};

// The "TYPE:ADDRESS" of --meter: a type list position (or item text) and fourteen hex digits
// as typed, most significant byte first. None with `error` set when it is not that.
std::optional<sim::SimulatedMeterSpec> ParseMeterSpec(const std::string& text, std::string& error);

} // namespace mbus::tools

// `mbus sim`: a simulated household meter on a pseudo-terminal, registered in the port map as a
// COM port, answering read-data requests until it is interrupted or terminated.
#pragma once

#include <optional>
#include <string>

#include "sim/meter_simulator.h"
#include "tools/command_io.h"

namespace mbus::tools {

int RunSimCommand(CommandArgs args, CommandIo io);

// The "TYPE:ADDRESS" of --meter: a type list position (or item text) and fourteen hex digits
// as typed, most significant byte first. None with `error` set when it is not that.
std::optional<sim::SimulatedMeterSpec> ParseMeterSpec(const std::string& text, std::string& error);

} // namespace mbus::tools

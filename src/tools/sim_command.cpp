#include "tools/sim_command.h"

#include "platform/clock.h"
#include "platform/interrupt_flag.h"
#include "platform/pseudo_terminal.h"
#include "platform/scoped_port_link.h"
#include "sim/meter_line.h"
#include "tools/option_parser.h"
#include "tools/quoted_argument.h"
#include "tools/request_options.h"

#include <algorithm>
#include <charconv>
#include <ostream>
#include <random>

namespace mbus::tools {
namespace {

void PrintHelp(std::ostream& out) {
    out << kSimSynopsis
        << "\n"
           "Runs a simulated household meter on a pseudo-terminal and registers it in the port\n"
           "map as COM<n>, so the console and `mbus` open it like a serial port. Prints the COM\n"
           "name and the device path on one line, then answers read-data requests (control code\n"
           "0x01, identifier 1F 90 or 90 1F) until interrupted (Ctrl+C) or terminated; the COM\n"
           "link is removed when it ends. Water, gas and electricity meters answer with data\n"
           "length 0x16, heat meters with 0x2E; readings advance with every read and the meter\n"
           "clock is the current local time. A meter answers requests for its type (or type AA)\n"
           "and its address; the address AA AA AA AA AA AA AA is answered by the first meter of\n"
           "the requested type. The read-address request (control 0x03, identifier 81 0A or\n"
           "0A 81, see `mbus address`) is answered with the meter's type and address. Like one\n"
           "meter on a half-duplex line it answers one request at a time: requests that arrive\n"
           "while a reply is still going out are dropped.\n"
           "\n"
           "  --meter TYPE:ADDRESS  a meter on the line (repeatable): TYPE is the type list\n"
           "                        position as in `mbus frame --type`, ADDRESS fourteen hex\n"
           "                        digits as typed, most significant byte first; default one\n"
           "                        cold-water meter 0:00000000000001\n"
        << MeterTypeHelp()
        << "  --com N               the COM number to register (1..65535); default the lowest\n"
           "                        free number\n"
           "  --preamble N          0xFE wake-up bytes before each reply (0..64); default 2\n"
           "  --delay MS            milliseconds from the request to the reply (0..60000);\n"
           "                        default 0\n"
           "  --split N:GAP_MS      send each reply in N bursts (1..64), GAP_MS apart\n"
           "  --echo                repeat every request (answered or not) before any reply,\n"
           "                        like a two-wire converter\n"
           "  --corrupt-checksum    send replies with a wrong checksum\n"
           "  --silent              answer nothing\n"
           "  --noise               put one to four stray bytes before each reply\n"
           "\n"
           "Exit status: 0 ended by a signal (SIGINT, SIGTERM, SIGHUP or SIGQUIT), 1 the line\n"
           "could not be set up, 2 bad option, 3 ended by a signal, but the line with the COM\n"
           "name could not be written.\n";
}

// A whole number within [low, high], or none.
std::optional<std::uint32_t> Number(std::string_view text, std::uint32_t low, std::uint32_t high) {
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < low ||
        value > high)
        return std::nullopt;
    return value;
}

struct Settings {
    sim::SimulatorOptions Simulator;
    std::optional<int> ComNumber;
};

bool ReadSettings(const OptionParser& options, Settings& settings, std::string& error) {
    sim::SimulatorOptions& simulator = settings.Simulator;
    for (const std::string& text : options.Values("--meter")) {
        const auto meter = ParseMeterSpec(text, error);
        if (!meter)
            return false;
        simulator.Meters.push_back(*meter);
    }
    if (simulator.Meters.empty())
        simulator.Meters.push_back(sim::kDefaultMeter);

    const auto numberOption = [&](const char* name, std::uint32_t low, std::uint32_t high,
                                  auto store) {
        const auto text = options.Value(name);
        if (!text)
            return true;
        const auto value = Number(*text, low, high);
        if (!value) {
            error = std::string("option ") + name + " takes a number from " + std::to_string(low) +
                    " to " + std::to_string(high) + ", not " + QuotedArgument(*text);
            return false;
        }
        store(*value);
        return true;
    };
    if (!numberOption("--com", 1, 65535, [&](std::uint32_t v) { settings.ComNumber = v; }) ||
        !numberOption("--preamble", 0, 64, [&](std::uint32_t v) { simulator.Preamble = v; }) ||
        !numberOption("--delay", 0, 60000, [&](std::uint32_t v) { simulator.DelayMs = v; }))
        return false;

    if (const auto split = options.Value("--split")) {
        const auto colon = split->find(':');
        const auto bursts =
            colon == std::string::npos ? std::nullopt : Number(split->substr(0, colon), 1, 64);
        const auto gap = bursts ? Number(split->substr(colon + 1), 0, 60000) : std::nullopt;
        if (!gap) {
            error = "option --split takes N:GAP_MS (N 1..64, GAP_MS 0..60000), not " +
                    QuotedArgument(*split);
            return false;
        }
        simulator.Bursts = *bursts;
        simulator.BurstGapMs = *gap;
    }
    simulator.Echo = options.Has("--echo");
    simulator.CorruptChecksum = options.Has("--corrupt-checksum");
    simulator.Silent = options.Has("--silent");
    simulator.Noise = options.Has("--noise");
    return true;
}

protocol::MeterClock LocalClock() {
    const platform::LocalTime now = platform::LocalNow();
    return {now.Year, now.Month, now.Day, now.Hour, now.Minute, now.Second};
}

int RunSimulator(const Settings& settings, CommandIo io) {
    std::string error;
    // A closed standard output must not end the simulator before it removes its link.
    const platform::InterruptFlag interrupt(platform::InterruptFlag::BrokenPipe::Ignored);
    platform::PseudoTerminal line;
    if (!line.Open(platform::PseudoTerminal::SlaveHold::Held, error)) {
        io.Err << "mbus sim: " << error << "\n";
        return kExitIncomplete;
    }
    platform::ScopedPortLink link;
    if (!link.Register(line.SlavePath(), settings.ComNumber, error)) {
        io.Err << "mbus sim: " << error << "\n";
        return kExitIncomplete;
    }
    io.Out << "COM" << link.Number() << " " << line.SlavePath() << std::endl;

    sim::MeterSimulator simulator(settings.Simulator, &LocalClock, std::random_device{}());
    sim::MeterLineLoop loop(line, simulator);
    if (!loop.Run([&] { return interrupt.Raised(); }, error)) {
        io.Err << "mbus sim: " << error << "\n";
        return kExitIncomplete;
    }
    return kExitOk;
}

} // namespace

std::optional<sim::SimulatedMeterSpec> ParseMeterSpec(const std::string& text, std::string& error) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) {
        error = "option --meter takes TYPE:ADDRESS, not " + QuotedArgument(text);
        return std::nullopt;
    }
    const auto type = ParseMeterType(text.substr(0, colon), error);
    const auto address = type ? ParseMeterAddress(text.substr(colon + 1), error) : std::nullopt;
    if (!address)
        return std::nullopt;
    sim::SimulatedMeterSpec spec;
    spec.TypePosition = *type;
    std::reverse_copy(address->begin(), address->end(), spec.Address.begin());
    return spec;
}

int RunSimCommand(CommandArgs args, CommandIo io) {
    OptionParser options(kSimValueOptions, kSimFlags);
    if (const auto done = options.Open("sim", args, io, PrintHelp))
        return *done;
    Settings settings;
    std::string error;
    if (!ReadSettings(options, settings, error))
        return UsageError(io.Err, "sim", error);
    return RunSimulator(settings, io);
}

} // namespace mbus::tools

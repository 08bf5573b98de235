#include "tools/sim_command.h"

#include "platform/clock.h"
#include "platform/interrupt_flag.h"
#include "platform/pseudo_terminal.h"
#include "platform/scoped_port_link.h"
#include "protocol/frame_layout.h"
#include "protocol/meter_type.h"
#include "sim/line_pace.h"
#include "sim/meter_line.h"
#include "tools/line_options.h"
#include "tools/meter_list_file.h"
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
           "name and the device path on one line, then answers requests until interrupted\n"
           "(Ctrl+C) or terminated; the COM link is removed when it ends. A meter answers\n"
           "requests for its type (or type AA) and its address; the address AA AA AA AA AA AA AA\n"
           "is answered by the first meter of the requested type. Like one meter on a\n"
           "half-duplex line it answers one request at a time: requests that arrive while a\n"
           "reply is still going out are dropped, and each one dropped is said on standard\n"
           "error (\"mbus sim: request to 00000000000001 type 0x10 dropped: still answering\";\n"
           "on a real bus the two would have collided).\n"
           "\n"
           "A pseudo-terminal moves bytes at any speed; the simulated meter keeps to the line's\n"
           "timing instead: it takes a request as heard when its last byte would have arrived\n"
           "at --baud and --parity (a start bit, eight data bits, the parity bit, a stop bit:\n"
           "11 bits a byte at 8E1), answers --delay ms after that, and writes each byte of its\n"
           "reply when it would have gone out whole. Set them to what the reader uses.\n"
           "\n"
           "Each meter behaves like a prepaid meter with state. It answers, with the identifier\n"
           "in the byte order of the request (either is taken):\n"
           "  read data (control 0x01): 90 1F the current counters (water, gas and electricity\n"
           "    meters with data length 0x16, heat meters with 0x2E; they advance with every\n"
           "    read; the clock is the local time plus what setting the clock moved it),\n"
           "    D1 20 .. D1 2B the settlement-day counter of 1 .. 12 months ago, 81 02 the price\n"
           "    table, 81 03 the settlement day, 81 04 the reading day, 81 05 the purchase record\n"
           "    (the money left goes down as the counters go up);\n"
           "  read address (0x03, 81 0A, see `mbus address`), read key version (0x09, 81 06);\n"
           "  write (0x04): A0 17 the valve (0x55 open, 0x99 close; the valve shows in the status\n"
           "    bytes of every later reply), A0 15 the clock, A0 11 the settlement day, A0 12 the\n"
           "    reading day, A0 10 the price table, A0 13 a purchase (taken once: its sequence\n"
           "    number must be the next one); the reply (0x84) carries the status bytes;\n"
           "  write address (0x15, A0 18): answers (0x95) and from then on only at the new\n"
           "    address.\n"
           "Each change a write makes is said on standard error, one line, as\n"
           "  mbus sim: meter 00000000000001: valve closed\n"
           "A request it cannot take gets an error reply (its control code with 0x40 added,\n"
           "as 0xC1) with the status bytes 01 00 for an identifier or operation it does not\n"
           "know, 02 00 for data it cannot take, 04 00 for a write refused by --refuse-writes\n"
           "and 08 00 for a purchase that is not the next one.\n"
           "\n"
           "  --meter TYPE:ADDRESS  a meter on the line (repeatable): TYPE is the type list\n"
           "                        position as in `mbus frame --type`, ADDRESS fourteen hex\n"
           "                        digits as typed, most significant byte first; default one\n"
           "                        cold-water meter 0:00000000000001\n"
        << MeterTypeHelp()
        << "  --meters FILE         the meters of a meter list (as `mbus read --meters` reads\n"
           "                        it: \"address,type[,name]\" a line, UTF-8, # comments),\n"
           "                        after those of --meter; a bad line is named and nothing\n"
           "                        runs\n"
           "  --silent-meter ADDRESS\n"
           "                        the meter at ADDRESS answers nothing (repeatable)\n"
           "  --corrupt-meter ADDRESS\n"
           "                        the meter at ADDRESS answers with a wrong checksum\n"
           "                        (repeatable)\n"
           "  --com N               the COM number to register (1..65535); default the lowest\n"
           "                        free number\n"
           "  --baud N              the line's bits per second; default 2400\n"
           "  --parity NAME         none, odd, even, mark or space (one more bit a byte);\n"
           "                        default none\n"
           "  --unpaced             hear requests and write replies as fast as the\n"
           "                        pseudo-terminal takes them\n"
           "  --preamble N          0xFE wake-up bytes before each reply (0..64); default 2\n"
           "  --delay MS            milliseconds from the request to the reply (0..60000);\n"
           "                        default 0\n"
           "  --split N:GAP_MS      send each reply in N bursts (1..64), GAP_MS apart\n"
           "  --echo                repeat every request (answered or not) before any reply,\n"
           "                        like a two-wire converter\n"
           "  --corrupt-checksum    send replies with a wrong checksum\n"
           "  --silent              answer nothing\n"
           "  --noise               put one to four stray bytes before each reply\n"
           "  --refuse-writes       refuse every write and write-address request\n"
           "  --swap-di             answer with the identifier in the other byte order\n"
           "\n"
           "Exit status: 0 ended by a signal (SIGINT, SIGTERM, SIGHUP or SIGQUIT), 1 the line\n"
           "could not be set up, 2 bad option or meter list, 3 ended by a signal, but the line\n"
           "with the COM name could not be written.\n";
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
    std::optional<std::string> MetersFile; // read when the simulator starts
    std::vector<protocol::LineAddress> SilentMeters;
    std::vector<protocol::LineAddress> CorruptMeters;
    sim::LinePace Pace;
};

// The addresses a repeatable option gives, as on the line.
bool ReadAddresses(const OptionParser& options, const char* name,
                   std::vector<protocol::LineAddress>& addresses, std::string& error) {
    for (const std::string& text : options.Values(name)) {
        const auto address = ParseMeterAddress(text, error);
        if (!address) {
            error = std::string("option ") + name + ": " + error;
            return false;
        }
        protocol::LineAddress onTheLine;
        std::reverse_copy(address->begin(), address->end(), onTheLine.begin());
        addresses.push_back(onTheLine);
    }
    return true;
}

bool ReadSettings(const OptionParser& options, Settings& settings, std::string& error) {
    sim::SimulatorOptions& simulator = settings.Simulator;
    for (const std::string& text : options.Values("--meter")) {
        const auto meter = ParseMeterSpec(text, error);
        if (!meter)
            return false;
        simulator.Meters.push_back(*meter);
    }
    settings.MetersFile = options.Value("--meters");
    if (!ReadAddresses(options, "--silent-meter", settings.SilentMeters, error) ||
        !ReadAddresses(options, "--corrupt-meter", settings.CorruptMeters, error))
        return false;
    LineSettings line;
    if (!ReadLineOptions(options, line, error))
        return false;
    if (!options.Has("--unpaced"))
        settings.Pace =
            sim::PaceOf(static_cast<std::uint32_t>(line.Baud), line.Parity != serial::pNone);

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
    simulator.RefuseWrites = options.Has("--refuse-writes");
    simulator.SwapIdentifier = options.Has("--swap-di");
    return true;
}

protocol::MeterClock LocalClock() {
    const platform::LocalTime now = platform::LocalNow();
    return {now.Year, now.Month, now.Day, now.Hour, now.Minute, now.Second};
}

// The meters of --meter and --meters (or the default meter) with their faults; none when the list
// cannot be read or a fault names no meter, said on `err`.
std::optional<std::vector<sim::SimulatedMeterSpec>> MetersOnTheLine(const Settings& settings,
                                                                    std::ostream& err) {
    std::vector<sim::SimulatedMeterSpec> meters = settings.Simulator.Meters;
    if (settings.MetersFile) {
        const auto listed = ReadMeterListFile("sim", *settings.MetersFile, err);
        if (!listed)
            return std::nullopt;
        for (const protocol::ListedMeter& meter : *listed)
            meters.push_back({meter.TypePosition, meter.Address});
    }
    if (meters.empty())
        meters.push_back(sim::kDefaultMeter);
    const auto mark = [&](const std::vector<protocol::LineAddress>& addresses, const char* option,
                          bool sim::SimulatedMeterSpec::*fault) {
        for (const protocol::LineAddress& address : addresses) {
            bool found = false;
            for (sim::SimulatedMeterSpec& meter : meters) {
                if (meter.Address == address) {
                    meter.*fault = true;
                    found = true;
                }
            }
            if (!found) {
                err << "mbus sim: option " << option << ": no meter "
                    << protocol::AddressText(address) << " on the line\n";
                return false;
            }
        }
        return true;
    };
    if (!mark(settings.SilentMeters, "--silent-meter", &sim::SimulatedMeterSpec::Silent) ||
        !mark(settings.CorruptMeters, "--corrupt-meter", &sim::SimulatedMeterSpec::CorruptChecksum))
        return std::nullopt;
    return meters;
}

int RunSimulator(const Settings& settings, CommandIo io) {
    sim::SimulatorOptions options = settings.Simulator;
    if (auto meters = MetersOnTheLine(settings, io.Err))
        options.Meters = std::move(*meters);
    else
        return kExitUsage;

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

    options.Notice = [&io](const std::string& change) {
        io.Err << "mbus sim: " << change << std::endl;
    };
    sim::MeterSimulator simulator(std::move(options), &LocalClock, std::random_device{}());
    sim::MeterLineLoop loop(line, simulator);
    loop.SetPace(settings.Pace);
    loop.SetDroppedHook([&io](const protocol::ReadRequest& request) {
        io.Err << "mbus sim: request to " << protocol::AddressText(request.Address) << " type "
               << protocol::TypeCodeText(request.TypeCode) << " dropped: still answering"
               << std::endl;
    });
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

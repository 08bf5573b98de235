#include "tools/sim_command.h"

#include "platform/port_map.h"
#include "tools/meter_line.h"
#include "tools/option_parser.h"
#include "tools/pseudo_terminal.h"
#include "tools/request_options.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <ostream>
#include <poll.h>
#include <unistd.h>

namespace mbus::tools {
namespace {

using SteadyClock = std::chrono::steady_clock;

void PrintHelp(std::ostream& out) {
    out << "usage: mbus sim [--meter TYPE:ADDRESS]... [--com N] [--preamble N] [--delay MS]\n"
           "                [--split N:GAP_MS] [--echo] [--corrupt-checksum] [--silent] [--noise]\n"
           "\n"
           "Runs a simulated household meter on a pseudo-terminal and registers it in the port\n"
           "map as COM<n>, so the console and `mbus` open it like a serial port. Prints the COM\n"
           "name and the device path on one line, then answers read-data requests (control code\n"
           "0x01, identifier 1F 90 or 90 1F) until interrupted (Ctrl+C) or terminated; the COM\n"
           "link is removed when it ends. Water, gas and electricity meters answer with data\n"
           "length 0x16, heat meters with 0x2E; readings advance with every read and the meter\n"
           "clock is the current local time. A meter answers requests for its type (or type AA)\n"
           "and its address; the address AA AA AA AA AA AA AA is answered by the first meter of\n"
           "the requested type.\n"
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
           "  --echo                repeat the request before the reply, like a two-wire\n"
           "                        converter\n"
           "  --corrupt-checksum    send replies with a wrong checksum\n"
           "  --silent              answer nothing\n"
           "  --noise               put one to four stray bytes before each reply\n"
           "\n"
           "Exit status: 0 ended by a signal, 1 the line could not be set up, 2 bad option.\n";
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
    SimulatorOptions Simulator;
    std::optional<int> ComNumber;
};

bool ReadSettings(const OptionParser& options, Settings& settings, std::string& error) {
    SimulatorOptions& sim = settings.Simulator;
    for (const std::string& text : options.Values("--meter")) {
        const auto meter = ParseMeterSpec(text, error);
        if (!meter)
            return false;
        sim.Meters.push_back(*meter);
    }
    if (sim.Meters.empty())
        sim.Meters.push_back(*ParseMeterSpec("0:00000000000001", error));

    const auto numberOption = [&](const char* name, std::uint32_t low, std::uint32_t high,
                                  auto store) {
        const auto text = options.Value(name);
        if (!text)
            return true;
        const auto value = Number(*text, low, high);
        if (!value) {
            error = std::string("option ") + name + " takes a number from " + std::to_string(low) +
                    " to " + std::to_string(high) + ", not '" + *text + "'";
            return false;
        }
        store(*value);
        return true;
    };
    if (!numberOption("--com", 1, 65535, [&](std::uint32_t v) { settings.ComNumber = v; }) ||
        !numberOption("--preamble", 0, 64, [&](std::uint32_t v) { sim.Preamble = v; }) ||
        !numberOption("--delay", 0, 60000, [&](std::uint32_t v) { sim.DelayMs = v; }))
        return false;

    if (const auto split = options.Value("--split")) {
        const auto colon = split->find(':');
        const auto bursts =
            colon == std::string::npos ? std::nullopt : Number(split->substr(0, colon), 1, 64);
        const auto gap = bursts ? Number(split->substr(colon + 1), 0, 60000) : std::nullopt;
        if (!gap) {
            error =
                "option --split takes N:GAP_MS (N 1..64, GAP_MS 0..60000), not '" + *split + "'";
            return false;
        }
        sim.Bursts = *bursts;
        sim.BurstGapMs = *gap;
    }
    sim.Echo = options.Has("--echo");
    sim.CorruptChecksum = options.Has("--corrupt-checksum");
    sim.Silent = options.Has("--silent");
    sim.Noise = options.Has("--noise");
    return true;
}

protocol::MeterClock LocalClock() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

// SIGINT, SIGTERM and SIGHUP write a byte into a pipe that the simulator polls; SIGPIPE is
// ignored so a closed standard output cannot end it without removing its link. The previous
// dispositions come back when the object goes.
class StopSignals {
public:
    StopSignals() {
        if (::pipe2(Pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
            Pipe_[0] = Pipe_[1] = -1;
        SignalFd_ = Pipe_[1];
        struct sigaction action {};
        action.sa_handler = &StopSignals::OnSignal;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
            ::sigaction(kStopSignals[i], &action, &Saved_[i]);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &ignore, &SavedPipe_);
    }
    ~StopSignals() {
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
            ::sigaction(kStopSignals[i], &Saved_[i], nullptr);
        ::sigaction(SIGPIPE, &SavedPipe_, nullptr);
        SignalFd_ = -1;
        for (int fd : Pipe_) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool Valid() const { return Pipe_[0] >= 0; }
    int Fd() const { return Pipe_[0]; }

private:
    static void OnSignal(int) {
        const int saved = errno;
        const char byte = 1;
        if (SignalFd_ >= 0) [[maybe_unused]]
            const ssize_t written = ::write(SignalFd_, &byte, 1);
        errno = saved;
    }

    static constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
    static inline volatile std::sig_atomic_t SignalFd_ = -1;
    int Pipe_[2] = {-1, -1};
    struct sigaction Saved_[std::size(kStopSignals)]{};
    struct sigaction SavedPipe_ {};
};

// The COM<n> link of the simulator's device while it runs.
class PortRegistration {
public:
    PortRegistration(std::string devicePath) : DevicePath_(std::move(devicePath)) {}
    ~PortRegistration() {
        if (Number_ > 0)
            platform::RemovePortLink(Number_, DevicePath_);
    }
    PortRegistration(const PortRegistration&) = delete;
    PortRegistration& operator=(const PortRegistration&) = delete;

    // Registers `wanted`, or the lowest free number (retried when another program takes it
    // first). False with `error` set.
    bool Register(std::optional<int> wanted, std::string& error) {
        for (int attempt = 0; attempt < 16; ++attempt) {
            const int number = wanted ? *wanted : platform::LowestFreeComNumber();
            if (platform::AddPortLink(number, DevicePath_, error)) {
                Number_ = number;
                return true;
            }
            error = "cannot register COM" + std::to_string(number) + ": " + error;
            if (wanted)
                return false;
        }
        return false;
    }
    int Number() const { return Number_; }

private:
    std::string DevicePath_;
    int Number_ = 0;
};

int RunSimulator(const Settings& settings, CommandIo io) {
    std::string error;
    PseudoTerminal line;
    StopSignals stop;
    if (!line.Open(error) || !stop.Valid()) {
        io.Err << "mbus sim: " << (error.empty() ? "cannot make the signal pipe" : error) << "\n";
        return kExitIncomplete;
    }
    PortRegistration registration(line.DevicePath());
    if (!registration.Register(settings.ComNumber, error)) {
        io.Err << "mbus sim: " << error << "\n";
        return kExitIncomplete;
    }
    io.Out << "COM" << registration.Number() << " " << line.DevicePath() << std::endl;

    MeterSimulator simulator(settings.Simulator, &LocalClock,
                             static_cast<std::uint32_t>(::getpid()));
    MeterLineLoop loop(line.MasterFd(), stop.Fd(), simulator);
    if (!loop.Run(error)) {
        io.Err << "mbus sim: " << error << "\n";
        return kExitIncomplete;
    }
    return kExitOk;
}

} // namespace

std::optional<SimulatedMeterSpec> ParseMeterSpec(const std::string& text, std::string& error) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) {
        error = "option --meter takes TYPE:ADDRESS, not '" + text + "'";
        return std::nullopt;
    }
    const auto type = ParseMeterType(text.substr(0, colon), error);
    const auto address = type ? ParseMeterAddress(text.substr(colon + 1), error) : std::nullopt;
    if (!address)
        return std::nullopt;
    SimulatedMeterSpec spec;
    spec.TypePosition = *type;
    std::reverse_copy(address->begin(), address->end(), spec.Address.begin());
    return spec;
}

int RunSimCommand(CommandArgs args, CommandIo io) {
    OptionParser options({"--meter", "--com", "--preamble", "--delay", "--split"},
                         {"--echo", "--corrupt-checksum", "--silent", "--noise"});
    if (const auto done = options.Open("sim", args, io, PrintHelp))
        return *done;
    Settings settings;
    std::string error;
    if (!ReadSettings(options, settings, error))
        return UsageError(io.Err, "sim", error);
    return RunSimulator(settings, io);
}

} // namespace mbus::tools

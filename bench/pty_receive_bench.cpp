// The serial component's receive path on a pseudo-terminal, beside a plain poll+read loop on the
// same kind of device (the ceiling). A peer thread holds the master side and plays the far end of
// the line; the slave side is the device:
//   dispatcher  TWin32Dispatcher opened on the slave path; the main thread takes the bytes with
//               TakeByte inside the MsgTriggerAvail notifications sent to its message window;
//   poll+read   the main thread opens the slave raw and loops on poll and read.
// Two figures for each:
//   sustained receive   the peer writes as fast as the device takes it; MB/s (10^6 bytes per
//                       second) from the first write to the last byte taken, every byte checked
//                       for order, and MB per second of process CPU time (the peer's writes
//                       included), which a busy machine changes less than the wall-clock rate;
//   burst latency       the peer writes one small burst, waits until it has been taken, pauses
//                       and repeats; time from just before the burst's write to the notification
//                       (or read) that hands over its last byte.
// Prints figures only; lost, misordered or stalled data is reported as a fault and makes the exit
// status 1. Opens no serial port: every device is a pseudo-terminal made here.
#include "bench_support.h"
#include "platform/message_window.h"
#include "platform/pseudo_terminal.h"
#include "serial/notify_messages.h"
#include "serial/win32_dispatcher.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace mbus;
using namespace mbus::bench;

constexpr int kRounds = 3;
constexpr std::uint64_t kStreamBytes = 16 * 1024 * 1024;
constexpr int kBursts = 2000;
constexpr std::size_t kBurstBytes = 16;
constexpr auto kBurstPause = std::chrono::milliseconds(1);
constexpr std::uint32_t kServeWaitMs = 50;

// ---- The peer: the master side of a pseudo-terminal --------------------------------------------

// Opens the pseudo-terminal whose slave side the receivers open; throws when it cannot.
void OpenPeerLine(platform::PseudoTerminal& line) {
    std::string error;
    if (!line.Open(platform::PseudoTerminal::SlaveHold::Released, error))
        throw std::runtime_error(error);
}

// ---- The receivers -----------------------------------------------------------------------------

// Called on the main thread with bytes just handed over and the moment they were.
using Sink = std::function<void(const std::uint8_t* bytes, std::size_t count, Clock::time_point)>;

// One way of receiving from the slave side on the main thread.
class Receiver {
public:
    virtual ~Receiver() = default;
    // Hands whatever arrives to the sink, waiting for up to `timeoutMs` when nothing is there.
    virtual void Serve(std::uint32_t timeoutMs) = 0;
    // What the receiver holds, for a stall report.
    virtual std::string State() = 0;
};

// The component's path: the overlapped dispatcher with its four threads, notifications to a
// window of the main thread, TakeByte for every announced byte.
class DispatcherReceiver : public Receiver {
public:
    DispatcherReceiver(const std::string& devicePath, Sink sink)
        : Sink_(std::move(sink)),
          Window_([this](platform::WindowHandle, std::uint32_t msg, std::uintptr_t count,
                         std::intptr_t) { return OnMessage(msg, count); }) {
        if (Dispatcher_.OpenPort(devicePath, 115200, 0, 8, 1, 4096, 4096, 3) != serial::ecOK)
            throw std::runtime_error("the dispatcher cannot open " + devicePath);
        Dispatcher_.SetAvailThreshold(1);
        Dispatcher_.AddNotifyWindow(Window_.Handle);
        Dispatcher_.UpdateNotifyNeed(1);
    }
    ~DispatcherReceiver() override {
        Dispatcher_.RemoveNotifyWindow(Window_.Handle);
        Dispatcher_.ClosePort();
    }

    void Serve(std::uint32_t timeoutMs) override {
        if (!platform::PumpOneMessage() && platform::WaitForMessage(timeoutMs))
            platform::PumpOneMessage();
    }

    std::string State() override {
        return "input buffer holds " + std::to_string(Dispatcher_.InputCount()) +
               " bytes, receive queue " + std::to_string(Dispatcher_.ReceiveQueue.Count()) +
               " buffers, " + std::to_string(Dispatcher_.LiveThreadCount()) + " threads running";
    }

private:
    std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t count) {
        if (msg != serial::MsgTriggerAvail)
            return 0;
        const auto seenAt = Clock::now();
        Taken_.clear();
        for (std::uintptr_t i = 0; i < count; ++i) {
            std::uint8_t byte = 0;
            if (Dispatcher_.TakeByte(byte) != serial::ecOK) {
                std::printf("FAULT: MsgTriggerAvail announced %zu bytes, TakeByte gave %zu\n",
                            static_cast<std::size_t>(count), Taken_.size());
                break;
            }
            Taken_.push_back(byte);
        }
        Sink_(Taken_.data(), Taken_.size(), seenAt);
        return 0;
    }

    Sink Sink_;
    std::vector<std::uint8_t> Taken_;
    serial::TWin32Dispatcher Dispatcher_{nullptr};
    MessageWindow Window_; // after the dispatcher: it goes first, so no delivery outlives it
};

// The ceiling: the slave opened raw and read in a poll+read loop.
class PollReadReceiver : public Receiver {
public:
    PollReadReceiver(const std::string& devicePath, Sink sink) : Sink_(std::move(sink)) {
        Fd_ = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios settings{};
        if (Fd_ < 0 || ::tcgetattr(Fd_, &settings) != 0) {
            Close();
            throw std::runtime_error("cannot open " + devicePath);
        }
        ::cfmakeraw(&settings);
        settings.c_cc[VMIN] = 1;
        settings.c_cc[VTIME] = 0;
        if (::tcsetattr(Fd_, TCSANOW, &settings) != 0) {
            Close();
            throw std::runtime_error("cannot make " + devicePath + " raw");
        }
    }
    ~PollReadReceiver() override { Close(); }
    PollReadReceiver(const PollReadReceiver&) = delete;
    PollReadReceiver& operator=(const PollReadReceiver&) = delete;

    void Serve(std::uint32_t timeoutMs) override {
        pollfd fd{Fd_, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(timeoutMs)) <= 0)
            return;
        const ssize_t got = ::read(Fd_, Buffer_.data(), Buffer_.size());
        if (got > 0)
            Sink_(Buffer_.data(), static_cast<std::size_t>(got), Clock::now());
    }

    std::string State() override { return "poll+read loop"; }

private:
    void Close() {
        if (Fd_ >= 0)
            ::close(Fd_);
        Fd_ = -1;
    }

    Sink Sink_;
    int Fd_ = -1;
    std::array<std::uint8_t, 65536> Buffer_{};
};

enum class Path { Dispatcher, PollRead };

const char* PathName(Path path) {
    return path == Path::Dispatcher ? "dispatcher" : "poll+read";
}

std::unique_ptr<Receiver> MakeReceiver(Path path, const std::string& devicePath, Sink sink) {
    if (path == Path::Dispatcher)
        return std::make_unique<DispatcherReceiver>(devicePath, std::move(sink));
    return std::make_unique<PollReadReceiver>(devicePath, std::move(sink));
}

// Checks the received stream against the pattern.
struct StreamCheck {
    std::uint64_t Received = 0;
    std::uint64_t Deliveries = 0;
    std::uint64_t WrongBytes = 0;
    std::uint64_t FirstWrongOffset = 0;

    void Feed(const std::uint8_t* bytes, std::size_t count) {
        ++Deliveries;
        for (std::size_t i = 0; i < count; ++i, ++Received) {
            if (bytes[i] != PatternByte(Received) && WrongBytes++ == 0)
                FirstWrongOffset = Received;
        }
    }

    // Prints what went wrong; true when something did.
    bool ReportFaults(std::uint64_t expected) const {
        if (WrongBytes != 0) {
            std::printf("FAULT: %llu bytes out of order, the first at offset %llu\n",
                        static_cast<unsigned long long>(WrongBytes),
                        static_cast<unsigned long long>(FirstWrongOffset));
        }
        if (Received != expected) {
            std::printf("FAULT: %llu bytes received, %llu written\n",
                        static_cast<unsigned long long>(Received),
                        static_cast<unsigned long long>(expected));
        }
        return WrongBytes != 0 || Received != expected;
    }
};

// ---- Sustained receive -------------------------------------------------------------------------

// Runs one sustained-receive measurement and prints its line; false on a fault.
bool MeasureStream(Path path) {
    platform::PseudoTerminal pty;
    OpenPeerLine(pty);
    StreamCheck check;
    const auto receiver = MakeReceiver(path, pty.SlavePath(),
                                       [&check](const std::uint8_t* bytes, std::size_t count,
                                                Clock::time_point) { check.Feed(bytes, count); });

    // 16 periods of the pattern: the block repeats seamlessly.
    std::vector<std::uint8_t> block(251 * 16);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = PatternByte(i);

    const double cpuStart = ProcessCpuSeconds();
    const auto start = Clock::now();
    std::jthread writer([&pty, &block](const std::stop_token& stop) {
        for (std::uint64_t offset = 0; offset < kStreamBytes && !stop.stop_requested();) {
            const auto size = static_cast<std::size_t>(
                std::min<std::uint64_t>(block.size(), kStreamBytes - offset));
            if (!TransferAllAtMaster(pty, std::span<const std::uint8_t>(block.data(), size), nullptr))
                return;
            offset += size;
        }
    });

    bool stalled = false;
    auto lastProgress = Clock::now();
    std::uint64_t lastReceived = 0;
    while (check.Received < kStreamBytes) {
        receiver->Serve(kServeWaitMs);
        const auto now = Clock::now();
        if (check.Received != lastReceived) {
            lastReceived = check.Received;
            lastProgress = now;
        } else if (now - lastProgress > kStallLimit) {
            std::printf("FAULT: %s stalled: %s\n", PathName(path), receiver->State().c_str());
            stalled = true;
            break;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = ProcessCpuSeconds() - cpuStart;
    writer.request_stop();
    writer.join();

    std::printf("%-11s %9.3f %8.2f %11llu %12.1f %6.0f %10.2f\n", PathName(path), seconds,
                static_cast<double>(check.Received) / seconds / 1e6,
                static_cast<unsigned long long>(check.Deliveries),
                check.Deliveries ? static_cast<double>(check.Received) / check.Deliveries : 0.0,
                100.0 * cpu / seconds, static_cast<double>(check.Received) / cpu / 1e6);
    return !check.ReportFaults(kStreamBytes) && !stalled;
}

// ---- Burst latency -----------------------------------------------------------------------------

struct Percentiles {
    double Median = 0, P90 = 0, P99 = 0, Max = 0;
};

// Percentiles by rank (the sample at floor(fraction * count)); sorts `samples`.
Percentiles Summarize(std::vector<double>& samples) {
    Percentiles p;
    if (samples.empty())
        return p;
    std::sort(samples.begin(), samples.end());
    const auto rank = [&](double fraction) {
        const auto index = static_cast<std::size_t>(fraction * static_cast<double>(samples.size()));
        return samples[std::min(index, samples.size() - 1)];
    };
    p.Median = rank(0.5);
    p.P90 = rank(0.9);
    p.P99 = rank(0.99);
    p.Max = samples.back();
    return p;
}

// What the main thread has handed over so far; the peer waits on it.
struct Handover {
    std::mutex Lock;
    std::condition_variable Changed;
    std::uint64_t Received = 0;   // Lock
    Clock::time_point LastSeenAt; // Lock: when the latest bytes were handed over
    std::uint64_t Deliveries = 0; // Lock
};

// Runs one burst-latency measurement, prints its line and adds its samples to `all`; false on a
// fault.
bool MeasureLatency(Path path, std::vector<double>& all) {
    platform::PseudoTerminal pty;
    OpenPeerLine(pty);
    StreamCheck check; // main thread
    Handover handover;
    const auto receiver =
        MakeReceiver(path, pty.SlavePath(),
                     [&](const std::uint8_t* bytes, std::size_t count, Clock::time_point seenAt) {
                         check.Feed(bytes, count);
                         {
                             std::lock_guard guard(handover.Lock);
                             handover.Received += count;
                             handover.LastSeenAt = seenAt;
                             ++handover.Deliveries;
                         }
                         handover.Changed.notify_one();
                     });

    std::vector<double> samples;
    samples.reserve(kBursts);
    int splitBursts = 0; // bursts handed over in more than one piece
    std::atomic<bool> peerDone{false};
    bool lost = false;
    const double cpuStart = ProcessCpuSeconds();
    const auto start = Clock::now();
    std::jthread peer([&] {
        std::array<std::uint8_t, kBurstBytes> burst{};
        for (int i = 0; i < kBursts && !lost; ++i) {
            std::this_thread::sleep_for(kBurstPause);
            const std::uint64_t offset = static_cast<std::uint64_t>(i) * kBurstBytes;
            for (std::size_t j = 0; j < kBurstBytes; ++j)
                burst[j] = PatternByte(offset + j);
            std::uint64_t deliveriesBefore;
            {
                std::lock_guard guard(handover.Lock);
                deliveriesBefore = handover.Deliveries;
            }
            const auto written = Clock::now();
            if (!TransferAllAtMaster(pty, std::span<const std::uint8_t>(burst), nullptr)) {
                lost = true;
                break;
            }
            std::unique_lock lock(handover.Lock);
            if (!handover.Changed.wait_for(
                    lock, kStallLimit, [&] { return handover.Received >= offset + kBurstBytes; })) {
                lost = true;
                break;
            }
            samples.push_back(Microseconds(handover.LastSeenAt - written));
            if (handover.Deliveries - deliveriesBefore > 1)
                ++splitBursts;
        }
        peerDone.store(true);
    });

    while (!peerDone.load())
        receiver->Serve(kServeWaitMs);
    peer.join();
    const double cpuPercent = 100.0 * (ProcessCpuSeconds() - cpuStart) /
                              std::chrono::duration<double>(Clock::now() - start).count();

    if (lost) {
        std::printf("FAULT: %s: burst %zu not handed over within %lld s (%llu of %llu bytes): %s\n",
                    PathName(path), samples.size() + 1, static_cast<long long>(kStallLimit.count()),
                    static_cast<unsigned long long>(check.Received),
                    static_cast<unsigned long long>(kBursts * kBurstBytes),
                    receiver->State().c_str());
    }
    all.insert(all.end(), samples.begin(), samples.end());
    const std::size_t count = samples.size();
    const Percentiles p = Summarize(samples);
    std::printf("%-11s %7zu %10.1f %9.1f %9.1f %9.1f %7d %6.0f\n", PathName(path), count, p.Median,
                p.P90, p.P99, p.Max, splitBursts, cpuPercent);
    return !check.ReportFaults(static_cast<std::uint64_t>(count) * kBurstBytes) && !lost;
}

// Runs every measurement; false when one found a fault.
bool RunAll() {
    std::printf("pty_receive_bench: a peer on the pseudo-terminal master; the slave read through "
                "the dispatcher (TakeByte in MsgTriggerAvail on the main thread) and by a plain "
                "poll+read loop\n");
    std::printf("load average before: %s\n", LoadAverage().c_str());

    bool ok = true;
    std::printf(
        "\nSustained receive: %llu MiB per run, the peer writes %d-byte blocks as fast as "
        "the device takes them; MB = 10^6 bytes; deliveries = notifications (dispatcher) "
        "or reads (poll+read); CPU = process CPU / wall time (200%% = both cores); MB/CPU-s = MB "
        "per second of process CPU time, the peer's writes included\n",
        static_cast<unsigned long long>(kStreamBytes >> 20), 251 * 16);
    std::printf("%-11s %9s %8s %11s %12s %6s %10s\n", "path", "seconds", "MB/s", "deliveries",
                "bytes/deliv", "CPU %", "MB/CPU-s");
    for (int round = 0; round < kRounds; ++round) {
        ok = MeasureStream(Path::Dispatcher) && ok;
        ok = MeasureStream(Path::PollRead) && ok;
    }

    std::printf("\nBurst latency: %d bursts of %zu bytes per run, %lld ms pause before each; time "
                "from just before the peer's write to the notification (dispatcher) or read "
                "(poll+read) that hands over the burst's last byte, in microseconds; split = "
                "bursts handed over in more than one piece; CPU = process CPU / wall time\n",
                kBursts, kBurstBytes, static_cast<long long>(kBurstPause.count()));
    std::printf("%-11s %7s %10s %9s %9s %9s %7s %6s\n", "path", "bursts", "median", "p90", "p99",
                "max", "split", "CPU %");
    std::vector<double> dispatcherAll;
    std::vector<double> pollReadAll;
    for (int round = 0; round < kRounds; ++round) {
        ok = MeasureLatency(Path::Dispatcher, dispatcherAll) && ok;
        ok = MeasureLatency(Path::PollRead, pollReadAll) && ok;
    }
    for (auto [name, samples] :
         {std::pair{"dispatcher", &dispatcherAll}, std::pair{"poll+read", &pollReadAll}}) {
        const std::size_t count = samples->size();
        const Percentiles p = Summarize(*samples);
        std::printf("%-11s %7zu %10.1f %9.1f %9.1f %9.1f   (all runs)\n", name, count, p.Median,
                    p.P90, p.P99, p.Max);
    }

    std::printf("\nload average after: %s\n", LoadAverage().c_str());
    return ok;
}

} // namespace

int main() {
    try {
        return RunAll() ? 0 : 1;
    } catch (const std::exception& e) {
        std::printf("cannot run: %s\n", e.what());
        return 1;
    }
}

// The port component's receive path beside two peers, on the same pseudo-terminal traffic. A peer
// thread holds the master side of each pseudo-terminal and plays the far end of the line; the
// slave sides are the devices:
//   TComPort     as the console uses it: ports opened by COM number (links in a throw-away port
//                map without discovery), OnTriggerAvail raised through the Qt event loop (the
//                console's GuiMessagePump), ReadChar for every announced byte;
//   QSerialPort  the same devices by path, readyRead in the same kind of event loop, readAll;
//   poll+read    the slave opened raw, a plain poll and read loop: the ceiling.
// Figures, each measured in interleaved rounds (one run of every receiver per round):
//   sustained receive   16 MiB written as fast as the device takes them, every byte checked;
//                       MB/s (10^6 bytes per second) and MB per second of process CPU time;
//   notification        one byte written after a 1 ms pause, 1000 times, with 1, 4 or 16 ports
//                       open (traffic on the first only): time from just before the write to the
//                       handler that hands the byte over; median and p99 in microseconds;
//   round trip          an 18-byte request sent from the main thread, an 18-byte reply from the
//                       peer as soon as the request is complete; time to the reply's last byte;
//   idle                one port open, nothing on the line, 3 s of event loop: voluntary context
//                       switches (wake-ups) per second and CPU, beyond the same loop without a
//                       port;
//   flood               64 MiB written as fast as the device takes them while the owner takes
//                       them at about 16 MB/s (it sleeps in its handler): the process's resident
//                       memory growth, every byte checked.
// Prints figures and the ratios to QSerialPort and asserts nothing; a lost, misordered or stalled
// byte is a FAULT: line and makes the exit status 1. Opens no serial port: every device is a
// pseudo-terminal made here. Usage: peer_receive_bench [rounds [group...]]: 5 rounds by default,
// every group of figures unless some are named (stream, notify, roundtrip, idle, flood).
#include "bench_support.h"
#include "console/gui_message_pump.h"
#include "platform/port_map.h"
#include "platform/pseudo_terminal.h"
#include "serial/com_port.h"
#include "support/temp_config_home.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace mbus;
using namespace mbus::bench;

constexpr std::uint64_t kStreamBytes = 16 * 1024 * 1024;
constexpr std::uint64_t kFloodBytes = 64 * 1024 * 1024;
constexpr int kNotifications = 1000;
constexpr auto kNotifyPause = std::chrono::milliseconds(1);
constexpr int kRoundTrips = 1000;
constexpr std::size_t kRequestBytes = 18;
constexpr std::uint32_t kIdleMs = 3000;
// The flooded owner's pace: nanoseconds of work per byte taken (about 16 MB/s).
constexpr std::int64_t kOwnerNsPerByte = 62;

double Seconds(Clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

// Resident memory of the process in bytes.
std::int64_t ResidentBytes() {
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return static_cast<std::int64_t>(resident) * ::sysconf(_SC_PAGESIZE);
}

// Voluntary context switches of the whole process: every time one of its threads blocked.
std::int64_t Wakeups() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw;
}

// ---- The peer: the master sides -----------------------------------------------------------------

// A pseudo-terminal whose slave side a receiver opens; the master side is the far end.
class Line {
public:
    Line() {
        std::string error;
        if (!Pty_.Open(platform::PseudoTerminal::SlaveHold::Released, error))
            throw std::runtime_error(error);
    }
    const std::string& DevicePath() const { return Pty_.SlavePath(); }

    // Writes all bytes, waiting for room while the device keeps taking them; false when it took
    // nothing for kStallLimit, the line failed or `stop` was raised.
    bool WriteAll(std::span<const std::uint8_t> bytes, const std::atomic<bool>& stop) {
        return TransferAllAtMaster(Pty_, bytes, &stop);
    }

    // Reads exactly `into.size()` bytes; false when the line failed, `stop` was raised or nothing
    // came for kStallLimit.
    bool ReadExactly(std::span<std::uint8_t> into, const std::atomic<bool>& stop) {
        return TransferAllAtMaster(Pty_, into, &stop);
    }

private:
    platform::PseudoTerminal Pty_;
};

// ---- The receivers ------------------------------------------------------------------------------

// Called on the main thread with the bytes just handed over and the moment the handler began.
using Sink = std::function<void(const std::uint8_t* bytes, std::size_t count, Clock::time_point)>;

enum class Kind { ComPort, QtSerialPort, PollRead };
constexpr std::array<Kind, 3> kAllKinds = {Kind::ComPort, Kind::QtSerialPort, Kind::PollRead};

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::ComPort:
        return "TComPort";
    case Kind::QtSerialPort:
        return "QSerialPort";
    case Kind::PollRead:
        return "poll+read";
    }
    return "?";
}

// One way of receiving on the main thread from a set of open devices; traffic goes to and from
// the first.
class Receiver {
public:
    virtual ~Receiver() = default;
    // Serves deliveries until `finished` holds (checked after every delivery and at Wake) or
    // `limitMs` has passed; returns `finished()`.
    virtual bool ServeUntil(const std::function<bool()>& finished, std::uint32_t limitMs) = 0;
    // Makes ServeUntil look at its condition again; any thread.
    virtual void Wake() = 0;
    // Sends bytes on the first device; main thread.
    virtual void Send(std::span<const std::uint8_t> bytes) = 0;
};

// The part the two event-loop receivers share: ServeUntil runs a QEventLoop.
class EventLoopReceiver : public Receiver {
public:
    bool ServeUntil(const std::function<bool()>& finished, std::uint32_t limitMs) override {
        if (finished())
            return true;
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        limit.start(static_cast<int>(limitMs));
        Loop_ = &loop;
        Finished_ = &finished;
        loop.exec();
        Loop_ = nullptr;
        Finished_ = nullptr;
        return finished();
    }

    void Wake() override {
        // Queued on the receiver's own object, so a wake that comes after the receiver is gone
        // is dropped with it.
        QMetaObject::invokeMethod(
            &Context_, [this] { Delivered(); }, Qt::QueuedConnection);
    }

protected:
    // Ends the running ServeUntil when its condition holds; main thread.
    void Delivered() {
        if (Loop_ != nullptr && (*Finished_)())
            Loop_->quit();
    }

private:
    QObject Context_;
    QEventLoop* Loop_ = nullptr;
    const std::function<bool()>* Finished_ = nullptr;
};

// The port component as the console holds it.
class ComPortReceiver : public EventLoopReceiver {
public:
    ComPortReceiver(const std::vector<std::string>& devices, Sink sink)
        : Sink_(std::move(sink)), Devices_(devices) {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const int number = static_cast<int>(i) + 1;
            std::string error;
            if (!platform::AddPortLink(number, devices[i], error))
                throw std::runtime_error(error);
            auto port = std::make_unique<serial::TComPort>();
            port->SetComNumber(static_cast<std::uint16_t>(number));
            port->SetBaud(115200);
            port->SetPromptForPort(false);
            if (i == 0) {
                port->SetOnTriggerAvail(
                    [this](serial::TComponent*, std::uint16_t count) { OnTriggerAvail(count); });
            }
            port->SetOpen(true);
            Ports_.push_back(std::move(port));
        }
    }
    ~ComPortReceiver() override {
        Ports_.clear(); // closes every port
        for (std::size_t i = 0; i < Devices_.size(); ++i)
            platform::RemovePortLink(static_cast<int>(i) + 1, Devices_[i]);
    }

    void Send(std::span<const std::uint8_t> bytes) override {
        Ports_.front()->SendString(std::string(bytes.begin(), bytes.end()));
    }

private:
    void OnTriggerAvail(std::uint16_t count) {
        const auto seenAt = Clock::now();
        Taken_.resize(count);
        for (std::uint16_t i = 0; i < count; ++i)
            Taken_[i] = static_cast<std::uint8_t>(Ports_.front()->ReadChar());
        Sink_(Taken_.data(), Taken_.size(), seenAt);
        Delivered();
    }

    Sink Sink_;
    const std::vector<std::string> Devices_;
    std::vector<std::uint8_t> Taken_;
    std::vector<std::unique_ptr<serial::TComPort>> Ports_;
};

// The peer library: QSerialPort on the same devices, in the same kind of event loop.
class QtSerialPortReceiver : public EventLoopReceiver {
public:
    QtSerialPortReceiver(const std::vector<std::string>& devices, Sink sink)
        : Sink_(std::move(sink)) {
        for (const std::string& device : devices) {
            auto port = std::make_unique<QSerialPort>(QString::fromStdString(device));
            port->setBaudRate(115200);
            if (!port->open(QIODevice::ReadWrite))
                throw std::runtime_error("QSerialPort cannot open " + device + ": " +
                                         port->errorString().toStdString());
            Ports_.push_back(std::move(port));
        }
        QSerialPort* first = Ports_.front().get();
        QObject::connect(first, &QSerialPort::readyRead, [this, first] {
            const auto seenAt = Clock::now();
            const QByteArray bytes = first->readAll();
            Sink_(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                  static_cast<std::size_t>(bytes.size()), seenAt);
            Delivered();
        });
    }

    void Send(std::span<const std::uint8_t> bytes) override {
        Ports_.front()->write(reinterpret_cast<const char*>(bytes.data()),
                              static_cast<qint64>(bytes.size()));
    }

private:
    Sink Sink_;
    std::vector<std::unique_ptr<QSerialPort>> Ports_;
};

// The ceiling: the first device opened raw and read in a poll+read loop; the others only held.
class PollReadReceiver : public Receiver {
public:
    PollReadReceiver(const std::vector<std::string>& devices, Sink sink) : Sink_(std::move(sink)) {
        WakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        for (const std::string& device : devices) {
            const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            termios settings{};
            if (fd >= 0)
                Fds_.push_back(fd);
            if (fd < 0 || ::tcgetattr(fd, &settings) != 0)
                throw std::runtime_error("cannot open " + device);
            ::cfmakeraw(&settings);
            settings.c_cc[VMIN] = 1;
            settings.c_cc[VTIME] = 0;
            if (::tcsetattr(fd, TCSANOW, &settings) != 0)
                throw std::runtime_error("cannot make " + device + " raw");
        }
    }
    ~PollReadReceiver() override {
        for (int fd : Fds_)
            ::close(fd);
        if (WakeFd_ >= 0)
            ::close(WakeFd_);
    }
    PollReadReceiver(const PollReadReceiver&) = delete;
    PollReadReceiver& operator=(const PollReadReceiver&) = delete;

    bool ServeUntil(const std::function<bool()>& finished, std::uint32_t limitMs) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        while (!finished()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            pollfd fds[2] = {{Fds_.front(), POLLIN, 0}, {WakeFd_, POLLIN, 0}};
            if (::poll(fds, 2, static_cast<int>(left.count())) <= 0)
                continue;
            if (fds[1].revents & POLLIN) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t got = ::read(WakeFd_, &count, sizeof count);
            }
            if (fds[0].revents & POLLIN) {
                const ssize_t got = ::read(Fds_.front(), Buffer_.data(), Buffer_.size());
                if (got > 0)
                    Sink_(Buffer_.data(), static_cast<std::size_t>(got), Clock::now());
            }
        }
        return true;
    }

    void Wake() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t put = ::write(WakeFd_, &one, sizeof one);
    }

    void Send(std::span<const std::uint8_t> bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t put = ::write(Fds_.front(), bytes.data() + done, bytes.size() - done);
            if (put > 0)
                done += static_cast<std::size_t>(put);
            else if (put < 0 && errno != EAGAIN && errno != EINTR)
                return;
        }
    }

private:
    Sink Sink_;
    std::vector<int> Fds_;
    int WakeFd_ = -1;
    std::array<std::uint8_t, 65536> Buffer_{};
};

std::unique_ptr<Receiver> MakeReceiver(Kind kind, const std::vector<Line>& lines, Sink sink) {
    std::vector<std::string> devices;
    for (const Line& line : lines)
        devices.push_back(line.DevicePath());
    switch (kind) {
    case Kind::ComPort:
        return std::make_unique<ComPortReceiver>(devices, std::move(sink));
    case Kind::QtSerialPort:
        return std::make_unique<QtSerialPortReceiver>(devices, std::move(sink));
    case Kind::PollRead:
        return std::make_unique<PollReadReceiver>(devices, std::move(sink));
    }
    throw std::logic_error("unknown receiver");
}

// Checks a received stream against the pattern.
struct StreamCheck {
    std::uint64_t Received = 0;
    std::uint64_t WrongBytes = 0;
    std::uint64_t FirstWrongOffset = 0;

    void Feed(const std::uint8_t* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i, ++Received) {
            if (bytes[i] != PatternByte(Received) && WrongBytes++ == 0)
                FirstWrongOffset = Received;
        }
    }

    // Prints what went wrong, naming the run; true when something did.
    bool ReportFaults(const std::string& run, std::uint64_t expected) const {
        if (WrongBytes != 0)
            std::printf("FAULT: %s: %llu bytes out of order, the first at offset %llu\n",
                        run.c_str(), static_cast<unsigned long long>(WrongBytes),
                        static_cast<unsigned long long>(FirstWrongOffset));
        if (Received != expected)
            std::printf("FAULT: %s: %llu bytes received, %llu written\n", run.c_str(),
                        static_cast<unsigned long long>(Received),
                        static_cast<unsigned long long>(expected));
        return WrongBytes != 0 || Received != expected;
    }
};

// Serves `receiver` until `check` has `total` bytes, allowing kStallLimit without progress;
// false (with a FAULT line) on a stall.
bool ServeStream(Receiver& receiver, const StreamCheck& check, std::uint64_t total,
                 const std::string& run) {
    std::uint64_t lastReceived = check.Received;
    auto lastProgress = Clock::now();
    while (!receiver.ServeUntil([&] { return check.Received >= total; }, 1000)) {
        if (check.Received != lastReceived) {
            lastReceived = check.Received;
            lastProgress = Clock::now();
        } else if (Clock::now() - lastProgress > kStallLimit) {
            std::printf("FAULT: %s stalled after %llu of %llu bytes\n", run.c_str(),
                        static_cast<unsigned long long>(check.Received),
                        static_cast<unsigned long long>(total));
            return false;
        }
    }
    return true;
}

// A block of the pattern that repeats seamlessly (16 periods of 251 bytes).
std::vector<std::uint8_t> PatternBlock() {
    std::vector<std::uint8_t> block(251 * 16);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = PatternByte(i);
    return block;
}

// Writes `total` pattern bytes to `line` from a thread of its own until done or stopped.
std::jthread StartWriter(Line& line, std::uint64_t total, std::atomic<bool>& stop) {
    return std::jthread([&line, total, &stop] {
        const std::vector<std::uint8_t> block = PatternBlock();
        for (std::uint64_t offset = 0; offset < total && !stop.load();) {
            const auto size =
                static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), total - offset));
            if (!line.WriteAll({block.data(), size}, stop))
                return;
            offset += size;
        }
    });
}

// ---- Measurements -------------------------------------------------------------------------------

// The figures of one run; a figure a run does not measure stays absent.
using Figures = std::map<std::string, double>;

// Sustained receive: MB/s and MB per CPU-second.
bool MeasureStream(Kind kind, Figures& figures) {
    const std::string run = std::string(KindName(kind)) + " sustained receive";
    std::vector<Line> lines(1);
    StreamCheck check;
    std::uint64_t deliveries = 0;
    auto receiver = MakeReceiver(
        kind, lines, [&](const std::uint8_t* bytes, std::size_t count, Clock::time_point) {
            check.Feed(bytes, count);
            ++deliveries;
        });
    std::atomic<bool> stop{false};
    const double cpuStart = ProcessCpuSeconds();
    const auto start = Clock::now();
    std::jthread writer = StartWriter(lines.front(), kStreamBytes, stop);
    const bool served = ServeStream(*receiver, check, kStreamBytes, run);
    const double seconds = Seconds(Clock::now() - start);
    const double cpu = ProcessCpuSeconds() - cpuStart;
    stop.store(true);
    writer.join();
    receiver.reset();
    figures["stream MB/s"] = static_cast<double>(check.Received) / seconds / 1e6;
    figures["stream MB/CPU-s"] = static_cast<double>(check.Received) / cpu / 1e6;
    figures["stream bytes/delivery"] =
        deliveries ? static_cast<double>(check.Received) / static_cast<double>(deliveries) : 0;
    return !check.ReportFaults(run, kStreamBytes) && served;
}

// Percentiles by rank (the sample at floor(fraction * count)); sorts `samples`.
double Percentile(std::vector<double>& samples, double fraction) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(samples.size()));
    return samples[std::min(index, samples.size() - 1)];
}

// What the main thread has handed over so far; the peer thread waits on it.
struct Handover {
    std::mutex Lock;
    std::condition_variable Changed;
    std::uint64_t Received = 0;   // Lock
    Clock::time_point LastSeenAt; // Lock: when the latest bytes were handed over

    void Note(std::size_t count, Clock::time_point seenAt) {
        {
            std::lock_guard guard(Lock);
            Received += count;
            LastSeenAt = seenAt;
        }
        Changed.notify_one();
    }
    // Waits until `total` bytes were handed over; the moment the last of them was, or none.
    std::optional<Clock::time_point> AwaitTotal(std::uint64_t total) {
        std::unique_lock lock(Lock);
        if (!Changed.wait_for(lock, kStallLimit, [&] { return Received >= total; }))
            return std::nullopt;
        return LastSeenAt;
    }
};

// Peer write -> notification of one byte with `portCount` ports open.
bool MeasureNotification(Kind kind, int portCount, Figures& figures) {
    const std::string run =
        std::string(KindName(kind)) + " notification, " + std::to_string(portCount) + " ports";
    std::vector<Line> lines(static_cast<std::size_t>(portCount));
    StreamCheck check;
    Handover handover;
    auto receiver = MakeReceiver(
        kind, lines, [&](const std::uint8_t* bytes, std::size_t count, Clock::time_point seenAt) {
            check.Feed(bytes, count);
            handover.Note(count, seenAt);
        });
    std::vector<double> samples;
    std::atomic<bool> peerDone{false};
    std::atomic<bool> stop{false};
    bool lost = false;
    std::jthread peer([&] {
        for (int i = 0; i < kNotifications && !lost; ++i) {
            std::this_thread::sleep_for(kNotifyPause);
            const std::uint8_t byte = PatternByte(static_cast<std::uint64_t>(i));
            const auto written = Clock::now();
            const auto seenAt = lines.front().WriteAll({&byte, 1}, stop)
                                    ? handover.AwaitTotal(static_cast<std::uint64_t>(i) + 1)
                                    : std::nullopt;
            if (!seenAt) {
                lost = true;
                break;
            }
            samples.push_back(Microseconds(*seenAt - written));
        }
        peerDone.store(true);
        receiver->Wake();
    });
    while (!receiver->ServeUntil([&] { return peerDone.load(); }, 1000)) {
    }
    peer.join();
    receiver.reset();
    if (lost)
        std::printf("FAULT: %s: byte %zu not handed over within %lld s\n", run.c_str(),
                    samples.size() + 1, static_cast<long long>(kStallLimit.count()));
    const std::string name = "notify " + std::to_string(portCount) + " port";
    figures[name + " median us"] = Percentile(samples, 0.5);
    figures[name + " p99 us"] = Percentile(samples, 0.99);
    return !check.ReportFaults(run, samples.size()) && !lost;
}

// An 18-byte request from the main thread, an 18-byte reply from the peer.
bool MeasureRoundTrip(Kind kind, Figures& figures) {
    const std::string run = std::string(KindName(kind)) + " round trip";
    std::vector<Line> lines(1);
    StreamCheck check;
    Clock::time_point lastSeenAt;
    auto receiver = MakeReceiver(
        kind, lines, [&](const std::uint8_t* bytes, std::size_t count, Clock::time_point seenAt) {
            check.Feed(bytes, count);
            lastSeenAt = seenAt;
        });
    std::atomic<bool> stop{false};
    std::atomic<bool> peerFailed{false};
    std::jthread peer([&] {
        std::array<std::uint8_t, kRequestBytes> request{};
        std::array<std::uint8_t, kRequestBytes> reply{};
        for (int i = 0; i < kRoundTrips && !stop.load(); ++i) {
            if (!lines.front().ReadExactly(request, stop))
                break;
            const std::uint64_t offset = static_cast<std::uint64_t>(i) * kRequestBytes;
            for (std::size_t j = 0; j < kRequestBytes; ++j)
                reply[j] = PatternByte(offset + j);
            if (!lines.front().WriteAll(reply, stop)) {
                peerFailed.store(true);
                break;
            }
        }
    });
    std::array<std::uint8_t, kRequestBytes> request{};
    std::vector<double> samples;
    bool stalled = false;
    for (int i = 0; i < kRoundTrips && !stalled; ++i) {
        const std::uint64_t expected = static_cast<std::uint64_t>(i + 1) * kRequestBytes;
        const auto sent = Clock::now();
        receiver->Send(request);
        stalled = !receiver->ServeUntil([&] { return check.Received >= expected; },
                                        static_cast<std::uint32_t>(kStallLimit.count() * 1000));
        if (!stalled)
            samples.push_back(Microseconds(lastSeenAt - sent));
    }
    stop.store(true);
    peer.join();
    receiver.reset();
    if (stalled || peerFailed.load())
        std::printf("FAULT: %s: reply %zu did not come back\n", run.c_str(), samples.size() + 1);
    figures["round trip median us"] = Percentile(samples, 0.5);
    figures["round trip p99 us"] = Percentile(samples, 0.99);
    return !check.ReportFaults(run, samples.size() * kRequestBytes) && !stalled &&
           !peerFailed.load();
}

// Wake-ups per second and CPU % of an idle event loop with `portCount` ports open (none: the
// loop alone, with a Qt receiver's loop).
struct IdleFigures {
    double WakeupsPerSecond = 0;
    double CpuPercent = 0;
};

IdleFigures MeasureIdleLoop(Receiver& receiver) {
    const std::int64_t wakeupsBefore = Wakeups();
    const double cpuBefore = ProcessCpuSeconds();
    const auto start = Clock::now();
    receiver.ServeUntil([] { return false; }, kIdleMs);
    const double seconds = Seconds(Clock::now() - start);
    return {static_cast<double>(Wakeups() - wakeupsBefore) / seconds,
            100.0 * (ProcessCpuSeconds() - cpuBefore) / seconds};
}

// The loop alone: an event loop serving nothing.
class IdleLoop : public EventLoopReceiver {
public:
    void Send(std::span<const std::uint8_t>) override {}
};

bool MeasureIdle(Kind kind, Figures& figures) {
    IdleFigures base;
    if (kind != Kind::PollRead) {
        IdleLoop loop;
        base = MeasureIdleLoop(loop);
    }
    std::vector<Line> lines(1);
    auto receiver =
        MakeReceiver(kind, lines, [](const std::uint8_t*, std::size_t, Clock::time_point) {});
    const IdleFigures open = MeasureIdleLoop(*receiver);
    figures["idle wake-ups/s per port"] = open.WakeupsPerSecond - base.WakeupsPerSecond;
    figures["idle CPU % per port"] = open.CpuPercent - base.CpuPercent;
    return true;
}

// Resident memory growth while the peer floods and the owner takes slowly.
bool MeasureFlood(Kind kind, Figures& figures) {
    const std::string run = std::string(KindName(kind)) + " flood";
    std::vector<Line> lines(1);
    StreamCheck check;
    std::int64_t peak = 0;
    auto lastSample = Clock::now();
    auto receiver = MakeReceiver(
        kind, lines, [&](const std::uint8_t* bytes, std::size_t count, Clock::time_point) {
            check.Feed(bytes, count);
            std::this_thread::sleep_for(
                std::chrono::nanoseconds(kOwnerNsPerByte * static_cast<std::int64_t>(count)));
            if (const auto now = Clock::now(); now - lastSample > std::chrono::milliseconds(5)) {
                lastSample = now;
                peak = std::max(peak, ResidentBytes());
            }
        });
    const std::int64_t before = ResidentBytes();
    std::atomic<bool> stop{false};
    std::jthread writer = StartWriter(lines.front(), kFloodBytes, stop);
    const bool served = ServeStream(*receiver, check, kFloodBytes, run);
    peak = std::max(peak, ResidentBytes());
    stop.store(true);
    writer.join();
    receiver.reset();
    figures["flood RSS growth MB"] = static_cast<double>(peak - before) / 1e6;
    return !check.ReportFaults(run, kFloodBytes) && served;
}

// ---- Rounds and the summary ---------------------------------------------------------------------

struct Spread {
    double Min = 0, Median = 0, Max = 0;
};

Spread SpreadOf(std::vector<double> values) {
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2], values.back()};
}

// The figures every round measured, per receiver.
using Results = std::map<Kind, std::map<std::string, std::vector<double>>>;

void Record(Results& results, Kind kind, const Figures& figures) {
    for (const auto& [name, value] : figures)
        results[kind][name].push_back(value);
}

void PrintRun(Kind kind, const Figures& figures) {
    std::printf("  %-11s", KindName(kind));
    for (const auto& [name, value] : figures)
        std::printf("  %s %.2f", name.c_str(), value);
    std::printf("\n");
}

// The order figures are summarised in, with how the ratio to QSerialPort reads: "higher" when a
// larger value is better (ratio ours / theirs), "lower" when a smaller one is (ratio ours /
// theirs as well, so 3 means three times the cost).
struct FigureLine {
    const char* Name;
    const char* Better;
};
constexpr FigureLine kSummary[] = {
    {"stream MB/s", "higher"},           {"stream MB/CPU-s", "higher"},
    {"stream bytes/delivery", "higher"}, {"notify 1 port median us", "lower"},
    {"notify 1 port p99 us", "lower"},   {"notify 4 port median us", "lower"},
    {"notify 4 port p99 us", "lower"},   {"notify 16 port median us", "lower"},
    {"notify 16 port p99 us", "lower"},  {"round trip median us", "lower"},
    {"round trip p99 us", "lower"},      {"idle wake-ups/s per port", "lower"},
    {"idle CPU % per port", "lower"},    {"flood RSS growth MB", "lower"},
};

void PrintSummary(const Results& results, int rounds) {
    std::printf("\nSummary over %d rounds: min / median / max; ratio = TComPort median / "
                "QSerialPort median (CPU cost ratio = QSerialPort MB/CPU-s / TComPort MB/CPU-s)\n",
                rounds);
    std::printf("%-28s %-28s %-28s %-28s %s\n", "figure", "TComPort", "QSerialPort", "poll+read",
                "ratio");
    for (const FigureLine& line : kSummary) {
        std::printf("%-28s", line.Name);
        std::map<Kind, Spread> spreads;
        for (Kind kind : kAllKinds) {
            const std::vector<double>* values = nullptr;
            if (const auto perKind = results.find(kind); perKind != results.end()) {
                if (const auto found = perKind->second.find(line.Name);
                    found != perKind->second.end())
                    values = &found->second;
            }
            if (values == nullptr) {
                std::printf(" %-28s", "-");
                continue;
            }
            const Spread s = SpreadOf(*values);
            spreads[kind] = s;
            char text[64];
            std::snprintf(text, sizeof text, "%.2f / %.2f / %.2f", s.Min, s.Median, s.Max);
            std::printf(" %-28s", text);
        }
        if (spreads.count(Kind::ComPort) && spreads.count(Kind::QtSerialPort) &&
            spreads[Kind::QtSerialPort].Median != 0) {
            const double ours = spreads[Kind::ComPort].Median;
            const double theirs = spreads[Kind::QtSerialPort].Median;
            if (std::string(line.Name) == "stream MB/CPU-s")
                std::printf(" cost %.2fx", ours != 0 ? theirs / ours : 0.0);
            else
                std::printf(" %.2fx", ours / theirs);
        }
        std::printf("\n");
    }
}

// The groups of figures a run can be limited to.
constexpr std::array<const char*, 5> kGroups = {"stream", "notify", "roundtrip", "idle", "flood"};

bool RunAll(int rounds, const std::set<std::string>& groups) {
    std::printf("peer_receive_bench: TComPort (OnTriggerAvail through the Qt event loop, ReadChar "
                "per byte), QSerialPort (readyRead, readAll) and a poll+read loop on the same "
                "pseudo-terminal traffic; %d interleaved rounds\n",
                rounds);
    std::printf("load average before: %s\n", LoadAverage().c_str());
    const auto wanted = [&groups](const char* group) {
        return groups.empty() || groups.count(group) != 0;
    };
    Results results;
    bool ok = true;
    for (int round = 1; round <= rounds; ++round) {
        std::printf("\nround %d (load average %s)\n", round, LoadAverage().c_str());
        for (Kind kind : kAllKinds) {
            Figures figures;
            if (wanted("stream"))
                ok = MeasureStream(kind, figures) && ok;
            for (int ports : {1, 4, 16}) {
                if (wanted("notify") && (kind != Kind::PollRead || ports == 1))
                    ok = MeasureNotification(kind, ports, figures) && ok;
            }
            if (wanted("roundtrip"))
                ok = MeasureRoundTrip(kind, figures) && ok;
            if (wanted("idle"))
                ok = MeasureIdle(kind, figures) && ok;
            if (wanted("flood") && kind != Kind::PollRead)
                ok = MeasureFlood(kind, figures) && ok;
            PrintRun(kind, figures);
            std::fflush(stdout);
            Record(results, kind, figures);
        }
    }
    PrintSummary(results, rounds);
    std::printf("\nload average after: %s\n", LoadAverage().c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv) try {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::set<std::string> groups;
    for (int i = 2; i < argc; ++i) {
        if (std::find_if(kGroups.begin(), kGroups.end(), [&](const char* group) {
                return std::string(group) == argv[i];
            }) == kGroups.end()) {
            std::printf(
                "usage: peer_receive_bench [rounds [stream|notify|roundtrip|idle|flood]...]\n");
            return 2;
        }
        groups.insert(argv[i]);
    }
    const mbus::testing::TempConfigHome home; // a port map of its own, without discovery
    int qtArgc = 1;
    QCoreApplication application(qtArgc, argv);
    const mbus::console::GuiMessagePump messagePump(application);
    return RunAll(rounds, groups) ? 0 : 1;
} catch (const std::exception& e) {
    std::printf("cannot run: %s\n", e.what());
    return 1;
}

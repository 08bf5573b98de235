// Throughput of the serial component's receive path without a device. A producer thread plays
// the read thread: it appends 256-byte data buffers to the receive queue of an in-memory
// dispatcher. The dispatcher thread moves them into the 8192-byte input buffer and announces them
// with MsgTriggerAvail to a message window of the main thread, whose procedure takes exactly the
// announced count with TakeByte, the way the console consumes data.
//
// Prints MB/s (10^6 bytes per second) for a few total sizes, the notification count, the average
// bytes per notification, and MB per CPU-second: bytes over the process's CPU time, the cost of
// the path, which a busy machine changes less than the wall-clock rate. A lost, misordered or
// stalled byte is reported as a fault and makes the exit status 1; a slow figure never does.
#include "fake_dispatcher.h"

#include "bench_support.h"
#include "platform/message_window.h"
#include "serial/notify_messages.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

using namespace mbus;
using namespace mbus::bench;

constexpr std::int32_t kChunkSize = 256;
// The producer lets at most this many bytes pile up in the receive queue, then waits a little.
constexpr std::uint32_t kQueueLimit = 256 * 1024;
constexpr auto kProducerPause = std::chrono::milliseconds(1);
constexpr int kRounds = 3;
constexpr std::uint64_t kTotals[] = {256 * 1024, 1024 * 1024, 4 * 1024 * 1024, 16 * 1024 * 1024};

struct RunResult {
    double Seconds = 0;
    double CpuSeconds = 0;
    std::uint64_t Taken = 0;
    std::uint64_t Notifications = 0;
    std::uint64_t WrongBytes = 0;
    std::uint64_t FirstWrongOffset = 0;
    std::uint64_t ShortTakes = 0; // notifications whose count could not be taken in full
    bool Stalled = false;
};

// One measured run: `total` bytes from the producer to the window procedure.
RunResult MeasureRun(std::uint64_t total) {
    RunResult result;
    serial::testing::FakeDispatcher dispatcher;
    MessageWindow window(
        [&](platform::WindowHandle, std::uint32_t msg, std::uintptr_t count, std::intptr_t) {
            if (msg != serial::MsgTriggerAvail)
                return std::intptr_t{0};
            ++result.Notifications;
            for (std::uintptr_t i = 0; i < count; ++i) {
                std::uint8_t byte = 0;
                if (dispatcher.TakeByte(byte) != serial::ecOK) {
                    ++result.ShortTakes;
                    break;
                }
                if (byte != PatternByte(result.Taken) && result.WrongBytes++ == 0)
                    result.FirstWrongOffset = result.Taken;
                ++result.Taken;
            }
            return std::intptr_t{0};
        });

    if (dispatcher.OpenPort("memory", 115200, 0, 8, 1, 4096, 4096, 3) != serial::ecOK) {
        std::fprintf(stderr, "cannot open the in-memory dispatcher\n");
        result.Stalled = true;
        return result;
    }
    dispatcher.SetAvailThreshold(1);
    dispatcher.AddNotifyWindow(window.Handle);
    dispatcher.UpdateNotifyNeed(1);

    const double cpuStart = ProcessCpuSeconds();
    const auto start = Clock::now();
    std::jthread producer([&dispatcher, total](const std::stop_token& stop) {
        std::uint64_t offset = 0;
        while (offset < total && !stop.stop_requested()) {
            if (dispatcher.ReceiveQueue.QueuedBytes() >= kQueueLimit) {
                std::this_thread::sleep_for(kProducerPause);
                continue;
            }
            auto buffer = std::make_unique<serial::TDataBuffer>(kChunkSize);
            const auto size =
                static_cast<std::int32_t>(std::min<std::uint64_t>(kChunkSize, total - offset));
            for (std::int32_t i = 0; i < size; ++i)
                buffer->Bytes()[i] = PatternByte(offset + static_cast<std::uint64_t>(i));
            buffer->Filled = size;
            dispatcher.ReceiveQueue.Append(std::move(buffer));
            offset += static_cast<std::uint64_t>(size);
        }
    });

    auto lastProgress = Clock::now();
    std::uint64_t lastTaken = 0;
    while (result.Taken < total) {
        if (!platform::PumpOneMessage())
            platform::WaitForMessage(5);
        const auto now = Clock::now();
        if (result.Taken != lastTaken) {
            lastTaken = result.Taken;
            lastProgress = now;
        } else if (now - lastProgress > kStallLimit) {
            result.Stalled = true;
            std::fprintf(stderr,
                         "FAULT: stalled after %llu of %llu bytes (input buffer holds %d, receive "
                         "queue holds %zu buffers)\n",
                         static_cast<unsigned long long>(result.Taken),
                         static_cast<unsigned long long>(total), dispatcher.InputCount(),
                         dispatcher.ReceiveQueue.Count());
            break;
        }
    }
    result.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.CpuSeconds = ProcessCpuSeconds() - cpuStart;
    producer.request_stop();
    producer.join();
    dispatcher.ClosePort();
    return result;
}

} // namespace

int main() {
    std::printf(
        "receive_queue_bench: in-memory producer -> receive queue -> 8192-byte input buffer "
        "-> MsgTriggerAvail -> TakeByte on the main thread\n");
    std::printf(
        "%u-byte data buffers, producer holds the queue under %u KiB; MB = 10^6 bytes; "
        "CPU = process CPU time / wall time (200%% = both cores); MB/CPU-s = MB per second of "
        "process CPU time\n",
        static_cast<unsigned>(kChunkSize), kQueueLimit / 1024);
    std::printf("load average before: %s\n\n", LoadAverage().c_str());
    std::printf("%9s %6s %9s %8s %14s %12s %6s %10s\n", "total KiB", "round", "seconds", "MB/s",
                "notifications", "bytes/notif", "CPU %", "MB/CPU-s");

    bool faulty = false;
    for (const std::uint64_t total : kTotals) {
        for (int round = 1; round <= kRounds; ++round) {
            const RunResult r = MeasureRun(total);
            const double perNotification =
                r.Notifications ? static_cast<double>(r.Taken) / r.Notifications : 0.0;
            std::printf("%9llu %6d %9.3f %8.2f %14llu %12.1f %6.0f %10.2f\n",
                        static_cast<unsigned long long>(total / 1024), round, r.Seconds,
                        static_cast<double>(r.Taken) / r.Seconds / 1e6,
                        static_cast<unsigned long long>(r.Notifications), perNotification,
                        100.0 * r.CpuSeconds / r.Seconds,
                        static_cast<double>(r.Taken) / r.CpuSeconds / 1e6);
            if (r.WrongBytes != 0) {
                std::printf("FAULT: %llu bytes out of order, the first at offset %llu\n",
                            static_cast<unsigned long long>(r.WrongBytes),
                            static_cast<unsigned long long>(r.FirstWrongOffset));
            }
            if (r.ShortTakes != 0) {
                std::printf("FAULT: %llu notifications announced more bytes than TakeByte gave\n",
                            static_cast<unsigned long long>(r.ShortTakes));
            }
            faulty = faulty || r.Stalled || r.WrongBytes != 0 || r.ShortTakes != 0;
        }
    }
    std::printf("\nload average after: %s\n", LoadAverage().c_str());
    return faulty ? 1 : 0;
}

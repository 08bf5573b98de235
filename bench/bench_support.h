// Small measuring aids shared by the benchmark programs.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>
#include <sys/resource.h>
#include <type_traits>
#include <utility>

#include "platform/message_window.h"
#include "platform/pseudo_terminal.h"

namespace mbus::bench {

using Clock = std::chrono::steady_clock;

// A device that takes or hands over nothing for this long is reported as stalled.
inline constexpr auto kStallLimit = std::chrono::seconds(5);

inline double Microseconds(Clock::duration span) {
    return std::chrono::duration<double, std::micro>(span).count();
}

// Moves all of `bytes` through the master side of `line` (a write or a read), waiting while the
// device keeps moving them; false when it moved nothing for kStallLimit, the transfer failed or
// `stop` was raised.
template <typename Byte>
bool TransferAllAtMaster(platform::PseudoTerminal& line, std::span<Byte> bytes,
                         const std::atomic<bool>* stop) {
    constexpr bool kWriting = std::is_const_v<Byte>;
    std::size_t done = 0;
    auto lastProgress = Clock::now();
    while (done < bytes.size() && !(stop && stop->load())) {
        const auto moved = [&] {
            if constexpr (kWriting)
                return line.WriteMaster(bytes.subspan(done));
            else
                return line.ReadMaster(bytes.subspan(done));
        }();
        if (moved.Failed())
            return false;
        if (moved.Count > 0) {
            done += moved.Count;
            lastProgress = Clock::now();
            continue;
        }
        if (Clock::now() - lastProgress > kStallLimit)
            return false;
        line.WaitMaster(kWriting, 100);
    }
    return done == bytes.size();
}

// Byte `offset` of a test stream: a period of 251 divides no buffer size, so a repeated, skipped
// or swapped block shows as a wrong byte.
inline std::uint8_t PatternByte(std::uint64_t offset) {
    return static_cast<std::uint8_t>(offset % 251);
}

// The machine's load averages over 1, 5 and 15 minutes, as /proc/loadavg gives them.
inline std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string first, second, third;
    file >> first >> second >> third;
    return first + " " + second + " " + third;
}

// Processor time of the whole process (user and system, every thread) in seconds.
inline double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A message window of the calling thread, destroyed with the object.
class MessageWindow {
public:
    explicit MessageWindow(platform::WindowProc proc)
        : Handle(platform::CreateMessageWindow(std::move(proc))) {}
    ~MessageWindow() { platform::DestroyMessageWindow(Handle); }
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    const platform::WindowHandle Handle;
};

} // namespace mbus::bench

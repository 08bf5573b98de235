// Small measuring aids shared by the benchmark programs.
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <utility>

#include "platform/message_window.h"

namespace mbus::bench {

using Clock = std::chrono::steady_clock;

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

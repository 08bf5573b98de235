#include "platform/clock.h"

#include "platform/win32/windows_api.h"

namespace mbus::platform {

std::uint32_t TickCount() {
    // The performance counter rather than GetTickCount, whose 10-16 ms steps are too coarse for
    // the component's 5 ms framing ticks.
    static const std::uint64_t frequency = [] {
        LARGE_INTEGER value{};
        ::QueryPerformanceFrequency(&value);
        return static_cast<std::uint64_t>(value.QuadPart);
    }();
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const auto counts = static_cast<std::uint64_t>(now.QuadPart);
    const std::uint64_t ms = counts / frequency * 1000u + counts % frequency * 1000u / frequency;
    return static_cast<std::uint32_t>(ms); // wraps like the system's 32-bit tick count
}

void Sleep(std::uint32_t ms) {
    ::Sleep(ms); // 0 gives up the rest of the time slice
}

LocalTime LocalNow() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return {now.wYear,   now.wMonth,  now.wDay,         now.wHour,
            now.wMinute, now.wSecond, now.wMilliseconds};
}

} // namespace mbus::platform

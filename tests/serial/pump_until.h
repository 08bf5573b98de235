// Serving the test thread's window messages while waiting for a condition, with a bound.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/clock.h"
#include "platform/message_window.h"

namespace mbus::serial::testing {

// Serves this thread's messages until `done` holds or `timeoutMs` passes; false on time-out.
inline bool PumpUntil(const std::function<bool()>& done, std::uint32_t timeoutMs = 5000) {
    const std::uint32_t start = platform::TickCount();
    while (!done()) {
        if (platform::TickCount() - start > timeoutMs)
            return false;
        if (!platform::PumpOneMessage())
            platform::WaitForMessage(5);
    }
    return true;
}

// Serves messages for `ms` milliseconds, to see that nothing more arrives.
inline void PumpFor(std::uint32_t ms) {
    PumpUntil([] { return false; }, ms);
}

} // namespace mbus::serial::testing

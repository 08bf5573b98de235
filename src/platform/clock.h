// The millisecond clock: a 32-bit tick count that wraps after about 49.7 days, and sleeping.
#pragma once

#include <cstdint>

namespace mbus::platform {

// Milliseconds from an arbitrary start, modulo 2^32 (monotonic, never set back).
std::uint32_t TickCount();

// Gives up the processor for at least `ms` milliseconds; 0 only yields the time slice.
void Sleep(std::uint32_t ms);

} // namespace mbus::platform

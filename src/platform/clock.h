// The millisecond clock: a 32-bit tick count that wraps after about 49.7 days, sleeping, and the
// local wall-clock time.
#pragma once

#include <cstdint>

namespace mbus::platform {

// Milliseconds from an arbitrary start, modulo 2^32 (monotonic, never set back).
std::uint32_t TickCount();

// Gives up the processor for at least `ms` milliseconds; 0 only yields the time slice.
void Sleep(std::uint32_t ms);

// A moment of the local wall clock, as a person reads it (month and day from 1).
struct LocalTime {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};
LocalTime LocalNow();

} // namespace mbus::platform

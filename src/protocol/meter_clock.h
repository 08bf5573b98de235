// A meter's clock as the household meter protocol carries it: seven BCD bytes
// ss mm hh DD MM YY YY, the seconds first on the line (shown YYYYMMDDhhmmss). The reply's clock
// field, the set-time request and the simulated meter's clock use it; seconds since 1970 (as a
// plain count, no time zone) let a caller set or compare two clocks.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace mbus::protocol {

struct MeterClock {
    int Year = 2000;
    int Month = 1;
    int Day = 1;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;

    friend bool operator==(const MeterClock&, const MeterClock&) = default;
};

inline constexpr std::size_t kClockSize = 7;

// Whether the clock names a real moment of the years 0000..9999 (days of the month and leap
// years counted).
bool IsValidClock(const MeterClock& clock);

// The clock's digits YYYYMMDDhhmmss as one number (sent as BCD, lowest digits first).
std::uint64_t ClockDigits(const MeterClock& clock);

// Writes the clock as seven BCD bytes, seconds first.
void PutClock(const MeterClock& clock, std::span<std::uint8_t, kClockSize> out);

// The clock of seven BCD bytes, seconds first; none when a byte is no BCD or the moment is not
// valid.
std::optional<MeterClock> ClockOf(std::span<const std::uint8_t, kClockSize> bytes);

// Seconds from 1970-01-01 00:00:00 to the clock, and back, without time zones or leap seconds.
std::int64_t SecondsOf(const MeterClock& clock);
MeterClock ClockAt(std::int64_t seconds);

} // namespace mbus::protocol

#include "protocol/meter_clock.h"

#include "protocol/bcd.h"

namespace mbus::protocol {
namespace {

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the date of the proleptic Gregorian calendar, by counting whole
// 400-year eras (each 146097 days) from 0000-03-01.
std::int64_t DaysOf(int year, int month, int day) {
    const std::int64_t y = month <= 2 ? year - 1 : year;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

bool IsValidClock(const MeterClock& clock) {
    return clock.Year >= 0 && clock.Year <= 9999 && clock.Month >= 1 && clock.Month <= 12 &&
           clock.Day >= 1 && clock.Day <= DaysInMonth(clock.Year, clock.Month) && clock.Hour >= 0 &&
           clock.Hour <= 23 && clock.Minute >= 0 && clock.Minute <= 59 && clock.Second >= 0 &&
           clock.Second <= 59;
}

std::uint64_t ClockDigits(const MeterClock& clock) {
    return static_cast<std::uint64_t>(clock.Year) * 10000000000ull +
           static_cast<std::uint64_t>(clock.Month) * 100000000ull +
           static_cast<std::uint64_t>(clock.Day) * 1000000ull +
           static_cast<std::uint64_t>(clock.Hour) * 10000ull +
           static_cast<std::uint64_t>(clock.Minute) * 100ull +
           static_cast<std::uint64_t>(clock.Second);
}

void PutClock(const MeterClock& clock, std::span<std::uint8_t, kClockSize> out) {
    PutBcd(ClockDigits(clock), out);
}

std::optional<MeterClock> ClockOf(std::span<const std::uint8_t, kClockSize> bytes) {
    const auto digits = BcdValue(bytes);
    if (!digits)
        return std::nullopt;
    std::uint64_t rest = *digits;
    const auto take = [&rest](std::uint64_t scale) {
        const auto part = static_cast<int>(rest % scale);
        rest /= scale;
        return part;
    };
    MeterClock clock;
    clock.Second = take(100);
    clock.Minute = take(100);
    clock.Hour = take(100);
    clock.Day = take(100);
    clock.Month = take(100);
    clock.Year = take(10000);
    if (!IsValidClock(clock))
        return std::nullopt;
    return clock;
}

std::int64_t SecondsOf(const MeterClock& clock) {
    return DaysOf(clock.Year, clock.Month, clock.Day) * 86400 + clock.Hour * 3600 +
           clock.Minute * 60 + clock.Second;
}

MeterClock ClockAt(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t inDay = seconds % 86400;
    if (inDay < 0) {
        inDay += 86400;
        --days;
    }
    // The inverse of DaysOf: the era, the day of the era, then the year and day from March on.
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    MeterClock clock;
    clock.Day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    clock.Month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    clock.Year = static_cast<int>(yearOfEra + era * 400 + (clock.Month <= 2 ? 1 : 0));
    clock.Hour = static_cast<int>(inDay / 3600);
    clock.Minute = static_cast<int>(inDay % 3600 / 60);
    clock.Second = static_cast<int>(inDay % 60);
    return clock;
}

} // namespace mbus::protocol

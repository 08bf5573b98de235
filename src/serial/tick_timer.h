// A coarse timer counted in ticks of 55 ms of the millisecond clock, robust against the clock's
// 32-bit wrap. The dispatcher's timer triggers and the close sequence's bounded waits use it.
#pragma once

#include <cstdint>

namespace mbus::serial {

inline constexpr std::uint32_t kTickMs = 55;
// The largest tick count a timer can be armed for (the clock's range in ticks, less a margin).
inline constexpr std::uint32_t kMaxTimerTicks = 39045157;

struct TickTimer {
    std::uint32_t StartTicks = 0;
    std::uint32_t ExpireTicks = 0;
};

// Ticks now: the millisecond clock divided by 55.
std::uint32_t TicksNow();

// Arms `timer` to expire `ticks` ticks from now (capped to kMaxTimerTicks).
void ArmTickTimer(TickTimer& timer, std::uint32_t ticks);
// The same with an explicit "now", for callers that already read the clock.
void ArmTickTimerAt(TickTimer& timer, std::uint32_t ticks, std::uint32_t nowTicks);

// True when the timer has expired: now is past the expiry, or the clock wrapped since the start
// and now plus the wrap margin is past the expiry.
bool TickTimerDone(const TickTimer& timer);
bool TickTimerDoneAt(const TickTimer& timer, std::uint32_t nowTicks);

} // namespace mbus::serial

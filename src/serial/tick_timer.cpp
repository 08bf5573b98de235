#include "serial/tick_timer.h"

#include "platform/clock.h"

namespace mbus::serial {

std::uint32_t TicksNow() {
    return platform::TickCount() / kTickMs;
}

void ArmTickTimer(TickTimer& timer, std::uint32_t ticks) {
    ArmTickTimerAt(timer, ticks, TicksNow());
}

void ArmTickTimerAt(TickTimer& timer, std::uint32_t ticks, std::uint32_t nowTicks) {
    if (ticks > kMaxTimerTicks)
        ticks = kMaxTimerTicks;
    timer.StartTicks = nowTicks;
    timer.ExpireTicks = nowTicks + ticks;
}

bool TickTimerDone(const TickTimer& timer) {
    return TickTimerDoneAt(timer, TicksNow());
}

bool TickTimerDoneAt(const TickTimer& timer, std::uint32_t nowTicks) {
    if (nowTicks > timer.ExpireTicks)
        return true;
    return nowTicks < timer.StartTicks && nowTicks + kMaxTimerTicks > timer.ExpireTicks;
}

} // namespace mbus::serial

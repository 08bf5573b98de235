// The trigger records' pattern matching, and the dispatcher's trigger tables: adding, arming,
// finding and removing timer, data and status triggers, clearing them at open, and carrying them
// across a close and reopen. The dispatch pass evaluates the tables (dispatcher_delivery.cpp).
#include "serial/trigger.h"

#include "serial/base_dispatcher.h"
#include "serial/codes.h"

#include <algorithm>
#include <cctype>

namespace mbus::serial {

namespace {

constexpr std::size_t kMaxTriggersPerTable = 64;

} // namespace

bool MatchStep(std::array<std::int32_t, kMaxDataTriggerLength>& counters, std::uint8_t byte,
               std::int32_t length, bool ignoreCase, const std::array<std::uint8_t, 24>& pattern) {
    if (length <= 0 || length > kMaxDataTriggerLength)
        return false;
    if (ignoreCase)
        byte = static_cast<std::uint8_t>(std::toupper(byte));

    bool process = true;
    bool started = false;
    for (std::int32_t i = 0; i < length; ++i) {
        auto& counter = counters[static_cast<std::size_t>(i)];
        if (process) {
            const std::int32_t p = counter;
            if (pattern[static_cast<std::size_t>(p)] == byte) {
                if (p == length - 1) {
                    counters.fill(0);
                    return true;
                }
                counter = p + 1;
            } else if (pattern[0] == byte) {
                started = true;
                counter = 1;
            } else {
                counter = 0;
            }
        }
        if (counter == 1)
            started = true;
        if (i == length - 1) {
            process = false;
        } else {
            const bool nextBusy = counters[static_cast<std::size_t>(i + 1)] != 0;
            process = started ? nextBusy : (nextBusy || pattern[0] == byte);
        }
    }
    return false;
}

// ---- The dispatcher's trigger tables ------------------------------------------------------------

void TBaseDispatcher::ClearTriggers() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    AvailThreshold = 0;
    TimerTriggers.clear();
    DataTriggers.clear();
    StatusTriggers.clear();
}

void TBaseDispatcher::ResetDataMatches() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    for (DataTrigger& trigger : DataTriggers)
        trigger.Counters.fill(0);
}

void TBaseDispatcher::SaveTriggers(TriggerSnapshot& snapshot) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    snapshot.Threshold = AvailThreshold;
    snapshot.Timers = TimerTriggers;
    snapshot.Data = DataTriggers;
    snapshot.Status = StatusTriggers;
}

void TBaseDispatcher::RestoreTriggers(const TriggerSnapshot& snapshot) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    AvailThreshold = snapshot.Threshold;
    TimerTriggers = snapshot.Timers;
    DataTriggers = snapshot.Data;
    StatusTriggers = snapshot.Status;
    AnnounceUnreadAgain(); // the threshold may be another one
}

std::int32_t TBaseDispatcher::NewTriggerHandle(std::int32_t tag) {
    // Handles travel as 16-bit values: the serial number takes the upper thirteen bits.
    if (NextTriggerSerial >= 8192)
        NextTriggerSerial = 1;
    return (NextTriggerSerial++ << 3) | tag;
}

std::int32_t TBaseDispatcher::AddTimerTrigger() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (TimerTriggers.size() >= kMaxTriggersPerTable)
        return ecNoMoreTriggers;
    TimerTrigger trigger;
    trigger.Handle = NewTriggerHandle(kTimerTriggerClass);
    TimerTriggers.push_back(trigger);
    return trigger.Handle;
}

std::int32_t TBaseDispatcher::SetTimerTrigger(std::int32_t handle, std::uint32_t ticks,
                                              bool activate) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    const auto it = FindByHandle(TimerTriggers, handle);
    if (it == TimerTriggers.end())
        return ecBadTriggerHandle;
    if (activate)
        ArmTickTimer(it->Timer, ticks);
    it->Armed = activate ? 1 : 0;
    KickDispatcher(); // the pass runs on a clock while a timer is armed
    return ecOK;
}

std::int32_t TBaseDispatcher::AddDataTrigger(const std::string& pattern, bool ignoreCase) {
    if (pattern.empty())
        return ecBadArgument;
    if (pattern.size() > static_cast<std::size_t>(kMaxDataTriggerLength))
        return ecTriggerTooLong;
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (DataTriggers.size() >= kMaxTriggersPerTable)
        return ecNoMoreTriggers;
    DataTrigger trigger;
    trigger.Handle = NewTriggerHandle(kDataTriggerClass);
    trigger.Length = static_cast<std::int32_t>(pattern.size());
    trigger.IgnoreCase = ignoreCase ? 1 : 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(pattern[i]);
        trigger.Pattern[i] = ignoreCase ? static_cast<std::uint8_t>(std::toupper(b)) : b;
    }
    DataTriggers.push_back(trigger);
    KickDispatcher(); // bytes not yet scanned are matched against it now
    return trigger.Handle;
}

std::int32_t TBaseDispatcher::AddStatusTrigger(std::int32_t kind) {
    if (kind < kTriggerModemStatus || kind > kTriggerOutSent)
        return ecBadArgument;
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (StatusTriggers.size() >= kMaxTriggersPerTable)
        return ecNoMoreTriggers;
    StatusTrigger trigger;
    trigger.Handle = NewTriggerHandle(kind);
    trigger.Kind = kind;
    StatusTriggers.push_back(trigger);
    return trigger.Handle;
}

std::int32_t TBaseDispatcher::SetStatusTrigger(std::int32_t handle, std::uint16_t value,
                                               bool activate) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    const auto it = FindByHandle(StatusTriggers, handle);
    if (it == StatusTriggers.end())
        return ecBadTriggerHandle;
    it->Value = value;
    it->Armed = activate ? 1 : 0;
    KickDispatcher(); // the pass runs on a clock while a status trigger is armed
    return ecOK;
}

std::int32_t TBaseDispatcher::RemoveTrigger(std::int32_t handle) {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    const auto removeFrom = [handle](auto& table) {
        const auto it = FindByHandle(table, handle);
        if (it == table.end())
            return false;
        table.erase(it);
        return true;
    };
    const std::int32_t triggerClass = handle & kTriggerClassMask;
    const bool removed = triggerClass == kTimerTriggerClass  ? removeFrom(TimerTriggers)
                         : triggerClass == kDataTriggerClass ? removeFrom(DataTriggers)
                                                             : removeFrom(StatusTriggers);
    return removed ? ecOK : ecBadTriggerHandle;
}

void TBaseDispatcher::ResetStatusHits() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    for (StatusTrigger& trigger : StatusTriggers)
        trigger.FiredThisPass = 0;
    StatusHit.store(false);
}

bool TBaseDispatcher::ClockedTriggersArmed() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    return std::any_of(TimerTriggers.begin(), TimerTriggers.end(),
                       [](const TimerTrigger& t) { return t.Armed != 0; }) ||
           std::any_of(StatusTriggers.begin(), StatusTriggers.end(),
                       [](const StatusTrigger& t) { return t.Armed != 0; });
}

} // namespace mbus::serial

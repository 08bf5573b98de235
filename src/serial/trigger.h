// The dispatcher's trigger records: timer triggers (a tick timer), data triggers (a byte pattern
// matched against received data, with overlapping partial matches tracked side by side) and
// status triggers (modem status, line error, output room, output used, output sent), and the
// snapshot that carries them across a close and reopen of the port.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "serial/tick_timer.h"

namespace mbus::serial {

// Longest data trigger pattern: one partial-match counter per pattern byte.
inline constexpr std::int32_t kMaxDataTriggerLength = 22;

// Status trigger kinds; a status trigger's handle carries its kind in the low three bits.
enum TriggerKind : std::int32_t {
    kTriggerModemStatus = 1,
    kTriggerLineError = 2,
    kTriggerOutbuffFree = 3,
    kTriggerOutbuffUsed = 4,
    kTriggerOutSent = 5,
};

// The low three bits of a trigger handle tell its class: a status kind above, or one of these.
inline constexpr std::int32_t kTriggerClassMask = 7;
inline constexpr std::int32_t kTimerTriggerClass = 6;
inline constexpr std::int32_t kDataTriggerClass = 7;

struct TimerTrigger {
    std::int32_t Handle = 0;
    TickTimer Timer;
    std::int32_t Armed = 0; // non-zero = armed
};

struct DataTrigger {
    std::int32_t Handle = 0;
    std::int32_t Length = 0; // 0 = inactive
    std::array<std::int32_t, kMaxDataTriggerLength> Counters{};
    std::int32_t Matched = 0;               // -1 matched, 0 not
    std::int32_t IgnoreCase = 0;            // non-zero: compare upper-cased received bytes
    std::array<std::uint8_t, 24> Pattern{}; // upper-case when IgnoreCase
};

struct StatusTrigger {
    std::int32_t Handle = 0; // low 3 bits = Kind
    std::int32_t Kind = 0;
    std::uint16_t Value = 0;
    std::uint8_t Armed = 0;
    std::uint8_t FiredThisPass = 0;
};

struct TriggerSnapshot {
    std::uint32_t Threshold = 0;
    std::vector<TimerTrigger> Timers;
    std::vector<DataTrigger> Data;
    std::vector<StatusTrigger> Status;
};

// The entry of a trigger table (or a notification target list) with `handle`, or the end.
template <typename Table> auto FindByHandle(Table& table, std::int32_t handle) {
    return std::find_if(table.begin(), table.end(),
                        [handle](const auto& entry) { return entry.Handle == handle; });
}

// Feeds one received byte to a data trigger's partial matches; returns true when the pattern
// has just completed (all counters are then reset). Overlapping partial matches run side by
// side, and at most one new match starts per byte.
bool MatchStep(std::array<std::int32_t, kMaxDataTriggerLength>& counters, std::uint8_t byte,
               std::int32_t length, bool ignoreCase, const std::array<std::uint8_t, 24>& pattern);

} // namespace mbus::serial

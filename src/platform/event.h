// Events and waits with the platform's semantics: an auto-reset event wakes exactly one waiter
// and resets itself, a manual-reset event stays set until reset. Waits take one or several events
// and a time-out in milliseconds.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>

namespace mbus::platform {

inline constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;

// Wait results: WAIT_OBJECT_0 + index of the signalled event, WAIT_ABANDONED_0 + index,
// WAIT_TIMEOUT, or WAIT_FAILED (bad arguments; the last error says why).
inline constexpr std::uint32_t WAIT_OBJECT_0 = 0;
inline constexpr std::uint32_t WAIT_ABANDONED_0 = 0x80;
inline constexpr std::uint32_t WAIT_TIMEOUT = 258;
inline constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFFu;

class Event {
public:
    explicit Event(bool manualReset = false, bool initialState = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    bool IsManualReset() const;

    struct State; // the implementation's shared state
    State& Impl() { return *Impl_; }

private:
    std::unique_ptr<State> Impl_;
};

// Waits until `event` is signalled (consuming the signal of an auto-reset event) or the time-out
// passes; returns WAIT_OBJECT_0 or WAIT_TIMEOUT.
std::uint32_t WaitOne(Event& event, std::uint32_t timeoutMs);

// Waits until any of the events is signalled; when several are, the lowest index wins and only
// its signal is consumed. 1..64 distinct events; WAIT_FAILED with ERROR_INVALID_PARAMETER for
// none, a null entry, the same event twice or too many. Events are never abandoned on Linux:
// WAIT_ABANDONED_0 is not returned there.
std::uint32_t WaitAny(std::initializer_list<Event*> events, std::uint32_t timeoutMs);

// WaitAny on a list of events whose length is known only at run time.
std::uint32_t WaitAnyOf(std::span<Event* const> events, std::uint32_t timeoutMs);

} // namespace mbus::platform

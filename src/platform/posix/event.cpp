#include "platform/event.h"

#include "platform/system_error.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

namespace mbus::platform {
namespace {

// One thread inside WaitAny. The event that satisfies the wait writes its index here and
// notifies `Wake`; from then on no other event hands its signal to this waiter.
struct Waiter {
    std::condition_variable Wake;
    std::optional<std::size_t> SignalledIndex;
};

struct WaiterEntry {
    Waiter* Who;
    std::size_t Index; // position of the event in that waiter's list
};

// All events share one lock: a wait on several events then sees one consistent picture, and a
// set hands its signal to exactly one waiter (auto-reset) or to every waiter (manual-reset).
std::mutex& EventLock() {
    static std::mutex lock;
    return lock;
}

constexpr std::size_t kMaxWaitObjects = 64;

} // namespace

// Guarded by EventLock().
struct Event::State {
    bool ManualReset = false;
    bool Signalled = false;
    std::vector<WaiterEntry> Waiters; // in the order they began waiting
};

Event::Event(bool manualReset, bool initialState) : Impl_(std::make_unique<State>()) {
    Impl_->ManualReset = manualReset;
    Impl_->Signalled = initialState;
}

Event::~Event() = default;

void Event::Set() {
    std::lock_guard lock(EventLock());
    State& state = *Impl_;
    for (const WaiterEntry& entry : state.Waiters) {
        if (entry.Who->SignalledIndex)
            continue; // already released by another event, not yet gone
        entry.Who->SignalledIndex = entry.Index;
        entry.Who->Wake.notify_one();
        if (!state.ManualReset)
            return; // the signal went to this waiter; the event stays reset
    }
    state.Signalled = true;
}

void Event::Reset() {
    std::lock_guard lock(EventLock());
    Impl_->Signalled = false;
}

bool Event::IsManualReset() const {
    return Impl_->ManualReset;
}

std::uint32_t WaitOne(Event& event, std::uint32_t timeoutMs) {
    return WaitAny({&event}, timeoutMs);
}

std::uint32_t WaitAny(std::initializer_list<Event*> events, std::uint32_t timeoutMs) {
    const std::size_t count = events.size();
    const bool validList =
        count >= 1 && count <= kMaxWaitObjects &&
        std::none_of(events.begin(), events.end(), [](Event* e) { return e == nullptr; });
    if (!validList) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    for (auto a = events.begin(); a != events.end(); ++a) {
        if (std::find(a + 1, events.end(), *a) != events.end()) {
            SetLastError(ERROR_INVALID_PARAMETER); // the same event twice
            return WAIT_FAILED;
        }
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(EventLock());

    // Already signalled: the lowest index wins, and only its signal is consumed.
    std::size_t index = 0;
    for (Event* event : events) {
        Event::State& state = event->Impl();
        if (state.Signalled) {
            if (!state.ManualReset)
                state.Signalled = false;
            return WAIT_OBJECT_0 + static_cast<std::uint32_t>(index);
        }
        ++index;
    }
    if (timeoutMs == 0)
        return WAIT_TIMEOUT;

    Waiter self;
    index = 0;
    for (Event* event : events)
        event->Impl().Waiters.push_back({&self, index++});

    while (!self.SignalledIndex) {
        if (timeoutMs == INFINITE) {
            self.Wake.wait(lock);
        } else if (self.Wake.wait_until(lock, deadline) == std::cv_status::timeout) {
            break;
        }
    }
    for (Event* event : events) {
        auto& waiters = event->Impl().Waiters;
        waiters.erase(std::find_if(waiters.begin(), waiters.end(),
                                   [&](const WaiterEntry& e) { return e.Who == &self; }));
    }
    if (!self.SignalledIndex)
        return WAIT_TIMEOUT;
    return WAIT_OBJECT_0 + static_cast<std::uint32_t>(*self.SignalledIndex);
}

} // namespace mbus::platform

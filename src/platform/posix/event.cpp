#include "platform/event.h"

#include "platform/posix/descriptor_wait.h"
#include "platform/system_error.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace mbus::platform {
namespace {

// One thread inside WaitAny. The event that satisfies the wait writes its index here and
// notifies `Wake` (or, for a thread that polls a descriptor meanwhile, writes to `WakeFd`); from
// then on no other event hands its signal to this waiter.
struct Waiter {
    std::condition_variable Wake;
    int WakeFd = -1;
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
        if (entry.Who->WakeFd >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(entry.Who->WakeFd, &one, sizeof one);
        } else {
            entry.Who->Wake.notify_one();
        }
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

namespace {

// The calling thread's eventfd for waits that poll a descriptor, made on its first such wait and
// closed when the thread ends.
class ThreadWakeDescriptor {
public:
    ~ThreadWakeDescriptor() {
        if (Fd_ >= 0)
            ::close(Fd_);
    }
    int Get() {
        if (Fd_ < 0)
            Fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        return Fd_;
    }

private:
    int Fd_ = -1;
};

// What a wait watches besides its events.
struct DescriptorWatch {
    KernelInterface& Kernel;
    int Fd;
    short Events;
    short& Revents;
};

std::uint32_t Wait(std::span<Event* const> events, std::uint32_t timeoutMs,
                   const DescriptorWatch* watch) {
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
    if (timeoutMs == 0 && watch == nullptr)
        return WAIT_TIMEOUT;

    thread_local ThreadWakeDescriptor wakeDescriptor;
    Waiter self;
    if (watch != nullptr) {
        self.WakeFd = wakeDescriptor.Get();
        if (self.WakeFd < 0) {
            SetLastError(ErrorFromErrno(errno));
            return WAIT_FAILED;
        }
    }
    index = 0;
    for (Event* event : events)
        event->Impl().Waiters.push_back({&self, index++});

    bool descriptorReady = false;
    while (!self.SignalledIndex && !descriptorReady) {
        if (watch != nullptr) {
            int pollMs = -1;
            if (timeoutMs != INFINITE) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                pollMs = static_cast<int>(std::max<std::int64_t>(0, left.count()));
            }
            pollfd fds[2] = {{self.WakeFd, POLLIN, 0}, {watch->Fd, watch->Events, 0}};
            lock.unlock();
            const int ready = watch->Kernel.Poll(fds, 2, pollMs);
            if (fds[0].revents & POLLIN) {
                std::uint64_t drained = 0;
                [[maybe_unused]] const ssize_t got = ::read(self.WakeFd, &drained, sizeof drained);
            }
            lock.lock();
            if (self.SignalledIndex)
                break; // an event's signal went to this waiter: it wins over the descriptor
            if (ready > 0 && fds[1].revents != 0) {
                watch->Revents = fds[1].revents;
                descriptorReady = true;
            } else if (timeoutMs != INFINITE && std::chrono::steady_clock::now() >= deadline) {
                break;
            }
        } else if (timeoutMs == INFINITE) {
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
    if (self.SignalledIndex)
        return WAIT_OBJECT_0 + static_cast<std::uint32_t>(*self.SignalledIndex);
    if (descriptorReady)
        return WAIT_OBJECT_0 + static_cast<std::uint32_t>(count);
    return WAIT_TIMEOUT;
}

} // namespace

std::uint32_t WaitAny(std::initializer_list<Event*> events, std::uint32_t timeoutMs) {
    return Wait(std::span<Event* const>(events.begin(), events.size()), timeoutMs, nullptr);
}

std::uint32_t WaitAnyOf(std::span<Event* const> events, std::uint32_t timeoutMs) {
    return Wait(events, timeoutMs, nullptr);
}

namespace posix {

std::uint32_t WaitAnyOrDescriptor(std::span<Event* const> events, KernelInterface& kernel, int fd,
                                  short pollEvents, std::uint32_t timeoutMs, short& revents) {
    revents = 0;
    const DescriptorWatch watch{kernel, fd, pollEvents, revents};
    return Wait(events, timeoutMs, &watch);
}

} // namespace posix

} // namespace mbus::platform

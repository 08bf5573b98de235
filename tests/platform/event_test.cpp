// Events and waits: auto-reset hands one signal to one waiter, manual-reset releases all, the
// lowest signalled index wins a multiple wait, and bad wait lists fail.
#include "platform/event.h"
#include "platform/system_error.h"
#include "support/pty_pair.h"
#include "support/wait_until.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace mbus::platform {
namespace {

using testing::WaitFor;

// A wait on the first N events of `events`.
template <std::size_t... Index>
std::uint32_t WaitOnFirst(std::vector<std::unique_ptr<Event>>& events,
                          std::index_sequence<Index...>) {
    return WaitAny({events[Index].get()...}, 0);
}

TEST(EventTest, AutoResetSignalIsConsumedByOneWait) {
    Event event;
    EXPECT_FALSE(event.IsManualReset());
    EXPECT_EQ(WaitOne(event, 0), WAIT_TIMEOUT);
    event.Set();
    event.Set(); // a set event stays set once: no count
    EXPECT_EQ(WaitOne(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitOne(event, 0), WAIT_TIMEOUT);
}

TEST(EventTest, ManualResetStaysSetUntilReset) {
    Event event(true, true);
    EXPECT_TRUE(event.IsManualReset());
    EXPECT_EQ(WaitOne(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitOne(event, 10), WAIT_OBJECT_0);
    event.Reset();
    EXPECT_EQ(WaitOne(event, 0), WAIT_TIMEOUT);
}

TEST(EventTest, TimedWaitTimesOut) {
    Event event;
    EXPECT_EQ(WaitOne(event, 30), WAIT_TIMEOUT);
    EXPECT_EQ(WaitAny({&event}, 1), WAIT_TIMEOUT);
}

TEST(EventTest, LowestSignalledIndexWinsAndOnlyItsSignalIsConsumed) {
    Event first;
    Event second;
    first.Set();
    second.Set();
    EXPECT_EQ(WaitAny({&first, &second}, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitAny({&first, &second}, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitAny({&first, &second}, 0), WAIT_TIMEOUT);

    Event manual(true, true);
    EXPECT_EQ(WaitAny({&first, &manual}, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitAny({&first, &manual}, 0), WAIT_OBJECT_0 + 1);
}

TEST(EventTest, BadWaitListsFail) {
    Event event;
    SetLastError(0);
    EXPECT_EQ(WaitAny({}, 0), WAIT_FAILED);
    EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitAny({&event, nullptr}, 0), WAIT_FAILED);
    EXPECT_EQ(WaitAny({&event, &event}, 0), WAIT_FAILED);

    std::vector<std::unique_ptr<Event>> many;
    for (int i = 0; i < 65; ++i)
        many.push_back(std::make_unique<Event>());
    many[63]->Set();
    EXPECT_EQ(WaitOnFirst(many, std::make_index_sequence<65>{}), WAIT_FAILED); // 64 at most
    EXPECT_EQ(WaitOnFirst(many, std::make_index_sequence<64>{}), WAIT_OBJECT_0 + 63);
}

TEST(EventTest, AutoResetSetReleasesExactlyOneWaiter) {
    Event work;          // auto-reset: one set, one waiter
    Event release(true); // lets the waiters that got nothing go
    std::atomic<int> worked{0};
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            const std::uint32_t result = WaitAny({&work, &release}, 10000);
            (result == WAIT_OBJECT_0 ? worked : released)++;
        });
    }
    work.Set();
    ASSERT_TRUE(WaitFor([&] { return worked == 1; }));
    work.Set();
    ASSERT_TRUE(WaitFor([&] { return worked == 2; }));
    release.Set();
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(worked, 2);
    EXPECT_EQ(released, 2);
    EXPECT_EQ(WaitOne(work, 0), WAIT_TIMEOUT); // both signals were consumed
}

TEST(EventTest, ManualResetReleasesEveryWaiter) {
    Event gate(true);
    std::atomic<int> through{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (WaitOne(gate, 10000) == WAIT_OBJECT_0)
                ++through;
        });
    gate.Set();
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(through, 4);
    EXPECT_EQ(WaitOne(gate, 0), WAIT_OBJECT_0);
}

TEST(EventTest, WaitOnTwoEventsReportsTheOneSetByAnotherThread) {
    Event first;
    Event second;
    std::thread setter([&] { second.Set(); });
    EXPECT_EQ(WaitAny({&first, &second}, 10000), WAIT_OBJECT_0 + 1);
    setter.join();
    EXPECT_EQ(WaitAny({&first, &second}, 0), WAIT_TIMEOUT);
}

} // namespace
} // namespace mbus::platform

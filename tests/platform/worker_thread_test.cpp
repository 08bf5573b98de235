// Worker threads that own themselves: started once, freed by their own thread after Execute,
// best-effort priorities, and calls synchronised onto the main thread.
#include "platform/event.h"
#include "platform/message_window.h"
#include "platform/worker_thread.h"
#include "support/test_platform.h"
#include "support/wait_until.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

namespace mbus::platform {
namespace {

using mbus::testing::PumpUntil;

// Runs `Work` as its Execute and sets `Freed` from its destructor.
class TestThread : public WorkerThread {
public:
    TestThread(std::function<void(TestThread&)> work, Event& freed)
        : Work_(std::move(work)), Freed_(freed) {}

protected:
    ~TestThread() override { Freed_.Set(); }
    void Execute() override { Work_(*this); }

private:
    std::function<void(TestThread&)> Work_;
    Event& Freed_;
};

TEST(WorkerThreadTest, RunsExecuteOnItsOwnThreadAndFreesItself) {
    Event freed(true);
    std::atomic<bool> ranOnMain{true};
    auto* thread = new TestThread([&](TestThread&) { ranOnMain = IsMainThread(); }, freed);
    ASSERT_TRUE(thread->Start());
    ASSERT_EQ(WaitOne(freed, 5000), WAIT_OBJECT_0);
    EXPECT_FALSE(ranOnMain);
    EXPECT_TRUE(IsMainThread());
}

TEST(WorkerThreadTest, EndsWhenAskedToTerminate) {
    Event freed(true);
    Event running(true);
    auto* thread = new TestThread(
        [&](TestThread& self) {
            running.Set();
            while (!self.Terminated())
                WaitOne(freed, 1); // never set while running: a short pause
        },
        freed);
    ASSERT_TRUE(thread->Start());
    ASSERT_EQ(WaitOne(running, 5000), WAIT_OBJECT_0);
    thread->Terminate();
    EXPECT_EQ(WaitOne(freed, 5000), WAIT_OBJECT_0);
}

TEST(WorkerThreadTest, AnEscapingExceptionEndsTheThreadLikeAReturn) {
    Event freed(true);
    auto* thread =
        new TestThread([](TestThread&) { throw std::runtime_error("worker failed"); }, freed);
    ASSERT_TRUE(thread->Start());
    EXPECT_EQ(WaitOne(freed, 5000), WAIT_OBJECT_0);
}

TEST(WorkerThreadTest, PriorityIsKeptBeforeStartAndAppliedWhenItRuns) {
    Event freed(true);
    std::atomic<int> niceSeen{-100};
    auto* thread = new TestThread(
        [&](TestThread&) { niceSeen = testing::SystemPriorityOfThisThread(); }, freed);
    thread->SetPriority(kPriorityLowest); // lowering is allowed to everybody
    EXPECT_EQ(thread->Priority(), kPriorityLowest);
    thread->SetPriority(99);
    EXPECT_EQ(thread->Priority(), kPriorityTimeCritical); // clamped to the steps
    thread->SetPriority(kPriorityLowest);
    ASSERT_TRUE(thread->Start());
    ASSERT_EQ(WaitOne(freed, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(niceSeen, testing::SystemLowestPriority());
}

TEST(WorkerThreadTest, RaisingThePriorityIsBestEffort) {
    Event freed(true);
    Event proceed;
    auto* thread = new TestThread([&](TestThread&) { WaitOne(proceed, 5000); }, freed);
    ASSERT_TRUE(thread->Start());
    thread->SetPriority(kPriorityTimeCritical); // may be refused without privilege: no error
    EXPECT_EQ(thread->Priority(), kPriorityTimeCritical);
    proceed.Set();
    EXPECT_EQ(WaitOne(freed, 5000), WAIT_OBJECT_0);
}

TEST(WorkerThreadTest, SynchronizeRunsTheCallOnTheMainThread) {
    Event freed(true);
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> returnedAfterCall{false};
    auto* thread = new TestThread(
        [&](TestThread&) {
            WorkerThread::Synchronize([&] { ranOnMain = IsMainThread(); });
            returnedAfterCall = ranOnMain.load();
        },
        freed);
    ASSERT_TRUE(thread->Start());
    ASSERT_TRUE(PumpUntil([&] { return WaitOne(freed, 0) == WAIT_OBJECT_0; }));
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(returnedAfterCall);

    bool direct = false;
    WorkerThread::Synchronize([&] { direct = IsMainThread(); }); // on the main thread: at once
    EXPECT_TRUE(direct);
}

} // namespace
} // namespace mbus::platform

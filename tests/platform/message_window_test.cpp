// Message windows: posting, sending across threads with a time-out, serving one message at a
// time, quit messages, message loops on worker threads, calls on the main thread, GUI hooks.
#include "platform/event.h"
#include "platform/message_window.h"
#include "platform/system_error.h"
#include "platform/worker_thread.h"
#include "support/pty_pair.h"
#include "support/test_platform.h"
#include "support/wait_until.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace mbus::platform {
namespace {

using mbus::testing::PumpUntil;
using mbus::testing::WaitFor;

// Message numbers of the program's own range: the system refuses to post some of its own
// numbers (those whose parameters carry pointers), so tests stay clear of them.
constexpr std::uint32_t kApp = 0x8000;

struct Received {
    std::uint32_t Msg;
    std::uintptr_t WParam;
    std::intptr_t LParam;
    bool OnMain;
};

// A window of the calling thread that records what it handles and answers msg + wParam.
class RecordingWindow {
public:
    RecordingWindow() {
        Handle_ = CreateMessageWindow(
            [this](WindowHandle, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
                std::lock_guard lock(Lock_);
                Log_.push_back({msg, wParam, lParam, std::this_thread::get_id() == Owner_});
                return static_cast<std::intptr_t>(msg + wParam);
            });
    }
    ~RecordingWindow() { DestroyMessageWindow(Handle_); }

    WindowHandle Handle() const { return Handle_; }
    std::vector<Received> Log() {
        std::lock_guard lock(Lock_);
        return Log_;
    }
    std::size_t Count() { return Log().size(); }

private:
    const std::thread::id Owner_ = std::this_thread::get_id();
    WindowHandle Handle_ = 0;
    std::mutex Lock_;
    std::vector<Received> Log_;
};

TEST(MessageWindowTest, WindowNeedsAProcedure) {
    EXPECT_EQ(CreateMessageWindow({}), 0u);
    EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(IsWindow(0));
}

TEST(MessageWindowTest, PostedMessagesAreServedOneAtATimeInOrder) {
    RecordingWindow window;
    ASSERT_NE(window.Handle(), 0u);
    EXPECT_TRUE(IsWindow(window.Handle()));
    EXPECT_FALSE(PumpOneMessage());
    ASSERT_TRUE(PostMessage(window.Handle(), 0x7E01, 5, -7));
    ASSERT_TRUE(PostMessage(window.Handle(), 0x7E02, 6, 8));
    EXPECT_TRUE(WaitForMessage(0));
    EXPECT_TRUE(PumpOneMessage());
    ASSERT_EQ(window.Count(), 1u);
    EXPECT_TRUE(PumpOneMessage());
    EXPECT_FALSE(PumpOneMessage());
    const auto log = window.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].Msg, 0x7E01u);
    EXPECT_EQ(log[0].WParam, 5u);
    EXPECT_EQ(log[0].LParam, -7);
    EXPECT_EQ(log[1].Msg, 0x7E02u);
}

TEST(MessageWindowTest, SendToAWindowOfTheCallingThreadCallsItDirectly) {
    RecordingWindow window;
    std::intptr_t result = 0;
    ASSERT_TRUE(SendMessageTimeout(window.Handle(), 0x100, 2, 0, SMTO_BLOCK, 0, &result));
    EXPECT_EQ(result, 0x102);
    EXPECT_EQ(window.Count(), 1u);
}

TEST(MessageWindowTest, SendFromAnotherThreadIsHandledByTheOwnerWhilePumping) {
    RecordingWindow window;
    std::atomic<bool> sent{false};
    std::intptr_t result = 0;
    std::thread sender([&] {
        sent = SendMessageTimeout(window.Handle(), 0x200, 1, 3, SMTO_BLOCK, 10000, &result);
    });
    ASSERT_TRUE(PumpUntil([&] { return window.Count() == 1; }));
    sender.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(result, 0x201);
    EXPECT_TRUE(window.Log()[0].OnMain);
}

TEST(MessageWindowTest, SentMessagesAreServedBeforePostedOnes) {
    RecordingWindow window;
    std::atomic<int> arrivals{0}; // the wake hook tells when each message is queued
    InstallGuiHooks(std::this_thread::get_id(), {[&] { ++arrivals; }, {}});
    ASSERT_TRUE(PostMessage(window.Handle(), kApp + 1, 0, 0));
    std::thread sender(
        [&] { SendMessageTimeout(window.Handle(), kApp + 2, 0, 0, SMTO_BLOCK, 10000, nullptr); });
    ASSERT_TRUE(WaitFor([&] { return arrivals == 2 && testing::SentMessageWaiting(); }));
    EXPECT_TRUE(PumpOneMessage());
    sender.join();
    InstallGuiHooks(std::this_thread::get_id(), {});
    const auto log = window.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].Msg, kApp + 2);
    EXPECT_EQ(log[1].Msg, kApp + 1);
}

TEST(MessageWindowTest, TimedOutSendIsWithdrawn) {
    RecordingWindow window;
    std::atomic<bool> sent{true};
    std::atomic<std::uint32_t> error{0};
    std::thread sender([&] {
        sent = SendMessageTimeout(window.Handle(), 0x300, 0, 0, SMTO_BLOCK, 50, nullptr);
        error = LastError();
    });
    sender.join(); // the owner never pumped
    EXPECT_FALSE(sent);
    EXPECT_EQ(error, ERROR_TIMEOUT);
    DrainMessages();
    EXPECT_EQ(window.Count(), 0u);
}

TEST(MessageWindowTest, SendToAWindowThatGoesAwayFails) {
    std::intptr_t result = 0;
    EXPECT_FALSE(SendMessageTimeout(0xFFFFFF, 1, 0, 0, SMTO_BLOCK, 10, &result));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(PostMessage(0xFFFFFF, 1, 0, 0));

    auto window = std::make_unique<RecordingWindow>();
    const WindowHandle handle = window->Handle();
    std::atomic<bool> sent{true};
    std::atomic<std::uint32_t> error{0};
    std::thread sender([&] {
        sent = SendMessageTimeout(handle, 0x400, 0, 0, SMTO_BLOCK, 10000, nullptr);
        error = LastError();
    });
    ASSERT_TRUE(WaitFor([] { return WaitForMessage(0); }));
    window.reset(); // destroys the window with the send waiting
    sender.join();
    EXPECT_FALSE(sent);
    EXPECT_EQ(error, ERROR_INVALID_HANDLE);
    EXPECT_FALSE(IsWindow(handle));
}

TEST(MessageWindowTest, BlockingSenderServesNoMessagesOfItsOwn) {
    RecordingWindow mainWindow;
    std::atomic<WindowHandle> workerWindow{0};
    std::atomic<bool> innerSent{true};
    std::atomic<std::uint32_t> innerError{0};
    const WindowHandle handle = CreateMessageWindow(
        [&](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) -> std::intptr_t {
            // The worker is blocked in its send to us: a send back cannot be served.
            innerSent = SendMessageTimeout(workerWindow, kApp + 9, 0, 0, SMTO_BLOCK, 100, nullptr);
            innerError = LastError();
            return 1;
        });
    std::thread worker([&] {
        RecordingWindow own;
        workerWindow = own.Handle();
        SendMessageTimeout(handle, kApp + 8, 0, 0, SMTO_BLOCK, 10000, nullptr);
        EXPECT_EQ(own.Count(), 0u);
    });
    ASSERT_TRUE(PumpUntil([&] { return innerError != 0; }));
    worker.join();
    EXPECT_FALSE(innerSent);
    EXPECT_EQ(innerError, ERROR_TIMEOUT);
    DestroyMessageWindow(handle);
}

TEST(MessageWindowTest, QuitStaysQueuedForTheLoopThatOwnsTheThread) {
    RecordingWindow window;
    PostMessage(window.Handle(), kApp + 1, 0, 0);
    PostQuitMessage(3);
    EXPECT_TRUE(PumpOneMessage());  // the posted message
    EXPECT_FALSE(PumpOneMessage()); // the quit is left alone
    EXPECT_TRUE(WaitForMessage(0));
    DrainMessages();
    EXPECT_TRUE(WaitForMessage(0));
    PostMessage(window.Handle(), kApp + 2, 0, 0);
    EXPECT_EQ(RunMessageLoop(), 3); // serves the rest first
    EXPECT_EQ(window.Count(), 2u);
    EXPECT_FALSE(WaitForMessage(0));
}

TEST(MessageWindowTest, WorkerThreadRunsAMessageLoop) {
    std::atomic<WindowHandle> handle{0};
    std::atomic<int> handled{0};
    std::atomic<int> exitCode{-1};
    std::thread worker([&] {
        handle = CreateMessageWindow(
            [&](WindowHandle, std::uint32_t msg, std::uintptr_t, std::intptr_t) -> std::intptr_t {
                ++handled;
                return msg - kApp;
            });
        exitCode = RunMessageLoop();
        EXPECT_FALSE(DestroyMessageWindow(0));
    });
    ASSERT_TRUE(WaitFor([&] { return handle != 0; }));
    EXPECT_FALSE(DestroyMessageWindow(handle)); // not ours
    EXPECT_EQ(LastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(PostMessage(handle, kApp + 1, 0, 0));
    std::intptr_t result = 0;
    ASSERT_TRUE(SendMessageTimeout(handle, kApp + 21, 0, 0, SMTO_BLOCK, 10000, &result));
    EXPECT_EQ(result, 21);
    ASSERT_TRUE(PostMessage(handle, WM_QUIT, 7, 0));
    worker.join();
    EXPECT_EQ(exitCode, 7);
    EXPECT_EQ(handled, 2);
    // The thread has ended: its window went with it.
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_FALSE(SendMessageTimeout(handle, 1, 0, 0, SMTO_BLOCK, 10, nullptr));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
}

TEST(MessageWindowTest, DrainServesWhatIsWaitingButNotWhatHandlersPostAgain) {
    int handled = 0;
    WindowHandle handle = 0;
    handle = CreateMessageWindow(
        [&](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) -> std::intptr_t {
            ++handled;
            PostMessage(handle, kApp + 1, 0, 0);
            return 0;
        });
    PostMessage(handle, kApp + 1, 0, 0);
    PostMessage(handle, kApp + 1, 0, 0);
    DrainMessages();
    EXPECT_EQ(handled, 2);
    DestroyMessageWindow(handle); // drops the two it posted again
    EXPECT_FALSE(PumpOneMessage());
}

TEST(MessageWindowTest, RunOnMainThreadWaitsForTheMainThreadAndCarriesExceptions) {
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> caught{false};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        RunOnMainThread([&] { ranOnMain = IsMainThread(); });
        try {
            RunOnMainThread([] { throw std::runtime_error("from main"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
        done = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(caught);
}

TEST(MessageWindowTest, GuiHooksAreWokenAndPumped) {
    RecordingWindow window;
    std::atomic<int> wakes{0};
    int pumps = 0;
    InstallGuiHooks(std::this_thread::get_id(), {[&] { ++wakes; }, [&] { ++pumps; }});
    std::thread([&] { PostMessage(window.Handle(), kApp + 5, 0, 0); }).join();
    EXPECT_EQ(wakes, 1);
    std::thread sender(
        [&] { SendMessageTimeout(window.Handle(), kApp + 6, 0, 0, SMTO_BLOCK, 10000, nullptr); });
    ASSERT_TRUE(WaitFor([&] { return wakes == 2; }));
    DrainMessages(); // what the GUI does when woken
    sender.join();
    EXPECT_EQ(window.Count(), 2u);
    EXPECT_EQ(pumps, 0);
    PumpOneMessage();
    EXPECT_EQ(pumps, 1);

    InstallGuiHooks(std::this_thread::get_id(), {});
    PostMessage(window.Handle(), kApp + 7, 0, 0);
    PumpOneMessage();
    EXPECT_EQ(wakes, 2);
    EXPECT_EQ(pumps, 1);
}

} // namespace
} // namespace mbus::platform

// The write path of the overlapped dispatcher under faults no pseudo-terminal shows by itself: an
// output block that cannot be allocated (this test program's operator new fails one chosen
// allocation on a worker thread) and purges that race the write thread.
#include "platform/message_window.h"
#include "platform/worker_thread.h"
#include "serial/application_errors.h"
#include "serial/notify_messages.h"
#include "serial/win32_dispatcher.h"
#include "support/pty_pair.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

// ThreadSanitizer's runtime brings an operator new of its own that cannot be replaced: under it
// the allocation failure is not injected and its test is skipped.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MBUS_NO_NEW_REPLACEMENT 1
#endif
#endif

namespace {

// One allocation of exactly this many bytes made by a thread other than the main one fails;
// 0 arms nothing.
std::atomic<std::size_t> FailingSize{0};

} // namespace

#ifndef MBUS_NO_NEW_REPLACEMENT
void* operator new(std::size_t size) {
    if (size != 0 && size == FailingSize.load(std::memory_order_relaxed) &&
        !mbus::platform::IsMainThread() && FailingSize.exchange(0) == size)
        throw std::bad_alloc();
    if (void* memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
#endif

namespace mbus::serial {
namespace {

using mbus::testing::PtyPair;
using mbus::testing::PumpFor;
using mbus::testing::PumpUntil;

class OutputFaults : public ::testing::Test {
protected:
    void SetUp() override {
        Window = platform::CreateMessageWindow(
            [this](platform::WindowHandle, std::uint32_t msg, std::uintptr_t, std::intptr_t) {
                Messages.push_back(msg);
                return std::intptr_t{0};
            });
        Dispatcher = std::make_unique<TWin32Dispatcher>(nullptr);
        ASSERT_EQ(Dispatcher->OpenPort(Pty.SlavePath(), 2400, 0, 8, 1, 4096, 4096, 0), ecOK);
        Dispatcher->AddNotifyWindow(Window);
    }
    void TearDown() override {
        FailingSize.store(0);
        SetApplicationErrorReporter(nullptr);
        if (Dispatcher && Dispatcher->LiveThreadCount() > 0 && Dispatcher->StopThreads.load())
            Dispatcher.release(); // threads that never finish would keep the destructor waiting
        Dispatcher.reset();
        platform::DestroyMessageWindow(Window);
    }

    std::int32_t Queue(const std::vector<std::uint8_t>& bytes) {
        return Dispatcher->QueueBlock(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }

    PtyPair Pty;
    platform::WindowHandle Window = 0;
    std::unique_ptr<TWin32Dispatcher> Dispatcher;
    std::vector<std::uint32_t> Messages;
};

// The write thread cannot allocate its output block: it ends through NoteThreadFinished like
// any failing thread, the others follow, the failure is reported as "No memory" and the owner
// is told the port is lost. Closing then finishes.
TEST_F(OutputFaults, AnOutputBlockThatCannotBeAllocatedEndsTheThreadsThroughTheirFinish) {
#ifdef MBUS_NO_NEW_REPLACEMENT
    GTEST_SKIP() << "no allocation failure can be injected under this sanitizer";
#endif
    std::vector<std::string> reported;
    std::mutex reportedLock;
    SetApplicationErrorReporter([&](const std::string& message) {
        std::lock_guard<std::mutex> guard(reportedLock);
        reported.push_back(message);
    });
    constexpr std::size_t kBlock = 3001; // no other allocation of the write path has this size
    FailingSize.store(kBlock);
    ASSERT_EQ(Queue(std::vector<std::uint8_t>(kBlock, 0x55)), ecOK);

    ASSERT_TRUE(PumpUntil([&] { return Dispatcher->LiveThreadCount() == 0; }))
        << "a thread left by the exception is still counted";
    EXPECT_EQ(FailingSize.load(), 0u) << "the allocation was never made";
    EXPECT_EQ(Dispatcher->WriteWorker, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return !Messages.empty() && Messages.back() == MsgPortLost; }));
    EXPECT_EQ(Dispatcher->LossCause(), "No memory");
    {
        std::lock_guard<std::mutex> guard(reportedLock);
        EXPECT_EQ(reported, std::vector<std::string>{"No memory"});
    }
    Dispatcher->ClosePort();
}

// Blocks queued and purged at once, over and over: a purge that lands between the write thread's
// look at the ring and its copy must not make it send the stale ring.
TEST_F(OutputFaults, PurgesRacingTheWriteThreadNeverSendStaleBytes) {
    std::atomic<bool> done{false};
    std::vector<std::uint8_t> received;
    std::thread meter([&] {
        while (!done.load()) {
            const auto got = Pty.ReadFromDevice(4096, std::chrono::milliseconds(20));
            received.insert(received.end(), got.begin(), got.end());
        }
    });
    std::size_t queued = 0;
    const std::vector<std::uint8_t> block(3, 0x11);
    for (int i = 0; i < 30000; ++i) {
        ASSERT_EQ(Queue(block), ecOK);
        queued += block.size();
        // The purge comes at varying moments of the write thread's wake-up.
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::microseconds(i % 50)) {
        }
        Dispatcher->PurgeOutput();
    }
    PumpFor(std::chrono::milliseconds(200));
    done.store(true);
    meter.join();

    std::size_t stale = 0;
    for (std::uint8_t byte : received)
        stale += byte != 0x11;
    EXPECT_EQ(stale, 0u) << "bytes of the ring that were never queued went out";
    EXPECT_LE(received.size(), queued);
    EXPECT_EQ(Dispatcher->LiveThreadCount(), 4);
}

} // namespace
} // namespace mbus::serial

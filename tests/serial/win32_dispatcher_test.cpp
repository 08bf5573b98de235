// The overlapped dispatcher and its I/O threads on a real pseudo-terminal: the test holds the
// master side and plays the meter; the dispatcher opens the slave side.
#include "platform/clock.h"
#include "platform/comm_device.h"
#include "platform/message_window.h"
#include "platform/posix/kernel_interface.h"
#include "platform/system_error.h"
#include "serial/application_errors.h"
#include "serial/exceptions.h"
#include "serial/io_threads.h"
#include "serial/notify_messages.h"
#include "serial/tapi_dispatcher.h"
#include "serial/win32_dispatcher.h"
#include "support/pty_pair.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace mbus::serial {
namespace {

using mbus::testing::PumpFor;
using mbus::testing::PumpUntil;

using mbus::testing::PtyPair;

std::vector<std::uint8_t> Sequence(std::size_t count, std::uint8_t seed = 0) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 13);
    return bytes;
}

double ProcessCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1000.0 + usage.ru_utime.tv_usec / 1000.0 +
           usage.ru_stime.tv_sec * 1000.0 + usage.ru_stime.tv_usec / 1000.0;
}

// An open dispatcher on a fresh pseudo-terminal whose notifications reach a message window of
// the test's thread; the window's handler takes every announced byte into `Received`.
class OpenDispatcher : public ::testing::Test {
protected:
    void SetUp() override {
        Window = platform::CreateMessageWindow(
            [this](platform::WindowHandle, std::uint32_t msg, std::uintptr_t count, std::intptr_t) {
                if (msg == MsgTriggerAvail) {
                    for (std::uintptr_t i = 0; i < count; ++i) {
                        std::uint8_t byte;
                        if (Dispatcher->TakeByte(byte) == ecOK)
                            Received.push_back(byte);
                    }
                }
                Messages.push_back(msg);
                return std::intptr_t{0};
            });
        Dispatcher = std::make_unique<TWin32Dispatcher>(nullptr);
    }
    void TearDown() override {
        Dispatcher.reset();
        platform::DestroyMessageWindow(Window);
    }

    std::int32_t Open() {
        const std::int32_t result = Dispatcher->OpenPort(Pty.SlavePath(), 2400, 2, 8, 1, 4096, 4096,
                                                         kOpenDtrOn | kOpenRtsOn);
        if (result == ecOK) {
            Dispatcher->SetAvailThreshold(1);
            Dispatcher->AddNotifyWindow(Window);
            Dispatcher->UpdateNotifyNeed(kNotifyNeedComponentWants);
        }
        return result;
    }

    std::int32_t Send(const std::vector<std::uint8_t>& bytes) {
        return Dispatcher->QueueBlock(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }

    PtyPair Pty;
    platform::WindowHandle Window = 0;
    std::unique_ptr<TWin32Dispatcher> Dispatcher;
    std::vector<std::uint8_t> Received;
    std::vector<std::uint32_t> Messages;
};

TEST_F(OpenDispatcher, RequestsGoOutAndRepliesComeInInOrder) {
    ASSERT_EQ(Open(), ecOK);
    EXPECT_EQ(Dispatcher->LiveThreadCount(), 4);

    const auto request = Sequence(18, 0xFE);
    ASSERT_EQ(Send(request), ecOK);
    EXPECT_EQ(Pty.ReadFromDevice(18, std::chrono::seconds(5)), request);

    const auto reply = Sequence(3000, 7);
    Pty.WriteToDevice(reply);
    ASSERT_TRUE(PumpUntil([&] { return Received.size() >= reply.size(); }));
    EXPECT_EQ(Received, reply);
}

TEST_F(OpenDispatcher, ManyBlocksArriveWhole) {
    ASSERT_EQ(Open(), ecOK);
    constexpr std::size_t kBlocks = 40;
    std::vector<std::uint8_t> got;
    std::thread meter([&] { got = Pty.ReadFromDevice(kBlocks * 1000, std::chrono::seconds(20)); });
    std::vector<std::uint8_t> all;
    for (std::size_t block = 0; block < kBlocks; ++block) {
        const auto bytes = Sequence(1000, static_cast<std::uint8_t>(block));
        // Wait for room instead of failing: the ring holds 4096 bytes.
        ASSERT_TRUE(PumpUntil([&] { return Dispatcher->OutputRoom() >= 1000; }));
        ASSERT_EQ(Send(bytes), ecOK);
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    meter.join();
    EXPECT_EQ(got, all);
}

// A sender faster than the owner: while the owner takes a few bytes per notification, the
// received bytes wait in the device rather than pile up in the receive queue; once it takes all
// it is told, every byte has arrived exactly once, in order.
TEST_F(OpenDispatcher, SlowlyTakenInputWaitsInTheDeviceAndArrivesWhole) {
    std::uintptr_t takeAtMost = 16;
    std::uint32_t mostQueued = 0;
    platform::DestroyMessageWindow(Window);
    Window = platform::CreateMessageWindow([&](platform::WindowHandle, std::uint32_t msg,
                                               std::uintptr_t count, std::intptr_t) {
        if (msg != MsgTriggerAvail || !Dispatcher)
            return std::intptr_t{0}; // also a notification still on its way while the port closes
        mostQueued = std::max(mostQueued, Dispatcher->ReceiveQueue.QueuedBytes());
        for (std::uintptr_t i = 0; i < std::min(count, takeAtMost); ++i) {
            std::uint8_t byte;
            if (Dispatcher->TakeByte(byte) == ecOK)
                Received.push_back(byte);
        }
        return std::intptr_t{0};
    });
    ASSERT_EQ(Open(), ecOK);
    const auto stream = Sequence(512 * 1024);
    std::atomic<bool> stop{false};
    std::thread meter([&] {
        for (std::size_t done = 0; done < stream.size() && !stop.load();) {
            const auto put = Pty.WriteMaster({stream.data() + done, stream.size() - done});
            done += put.Count;
            if (put.Count == 0)
                platform::Sleep(1);
        }
    });
    ASSERT_TRUE(PumpUntil([&] { return Dispatcher->ReceiveQueue.QueuedBytes() >= 32 * 1024; }));
    PumpUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_LE(mostQueued, 64u * 1024 + 8192) << "the read thread kept reading";

    takeAtMost = stream.size();
    // Bytes announced while the handler took only 16 at a time are not announced again unless
    // more come; on a loaded machine the whole stream may be in by now, so they are taken here.
    EXPECT_TRUE(PumpUntil(
        [&] {
            std::uint8_t byte;
            while (Dispatcher->InputCount() > 0 && Dispatcher->TakeByte(byte) == ecOK)
                Received.push_back(byte);
            return Received.size() >= stream.size();
        },
        std::chrono::seconds(30)));
    stop.store(true);
    meter.join();
    EXPECT_EQ(Received, stream);
}

TEST_F(OpenDispatcher, SecondLaunchFailsWithItsMessage) {
    ASSERT_EQ(Open(), ecOK);
    try {
        Dispatcher->LaunchThreads();
        FAIL() << "a second launch must fail";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Dispatcher already started.");
    }
    EXPECT_EQ(Dispatcher->LiveThreadCount(), 4);
}

TEST_F(OpenDispatcher, HeldAndMissingDevicesFailWithTheSystemError) {
    ASSERT_EQ(Open(), ecOK);
    TWin32Dispatcher second(nullptr);
    EXPECT_EQ(second.OpenPort(Pty.SlavePath(), 2400, 0, 8, 1, 4096, 4096, kOpenDtrOn | kOpenRtsOn),
              -static_cast<std::int32_t>(platform::ERROR_ACCESS_DENIED));
    TWin32Dispatcher missing(nullptr);
    EXPECT_EQ(missing.OpenPort("/dev/no-such-serial-device", 2400, 0, 8, 1, 4096, 4096,
                               kOpenDtrOn | kOpenRtsOn),
              -static_cast<std::int32_t>(platform::ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(missing.LiveThreadCount(), 0);
}

TEST_F(OpenDispatcher, CloseWhileDataFlowsEndsEveryThreadAndClosesTheDevice) {
    ASSERT_EQ(Open(), ecOK);
    std::atomic<bool> writing{true};
    std::thread meter([&] {
        const auto chunk = Sequence(512);
        while (writing.load()) {
            if (Pty.WriteMaster(chunk).Count == 0)
                platform::Sleep(1);
        }
    });
    ASSERT_TRUE(PumpUntil([&] { return Received.size() > 20000; }));
    const auto out = Sequence(4000);
    Send(out);

    Dispatcher->ClosePort();
    EXPECT_EQ(Dispatcher->LiveThreadCount(), 0);
    EXPECT_EQ(Dispatcher->DeviceHandle(), -1);
    writing.store(false);
    meter.join();
}

TEST_F(OpenDispatcher, PurgeDuringAPendingWriteAcknowledgesAndDropsTheRest) {
    ASSERT_EQ(Open(), ecOK);
    // The meter reads nothing: the line fills and the write thread's write stays pending.
    std::size_t queued = 0;
    const auto block = Sequence(4096);
    const std::uint32_t start = platform::TickCount();
    while (platform::TickCount() - start < 3000 && queued < (1u << 20)) {
        if (Dispatcher->OutputRoom() == 4096 && Send(block) == ecOK)
            queued += block.size();
        else if (Dispatcher->OutputInUse() == 4096)
            break; // the ring is full behind a pending write
        PumpUntil([] { return false; }, std::chrono::milliseconds(5));
    }
    ASSERT_EQ(Dispatcher->OutputInUse(), 4096) << "the write never went pending";

    EXPECT_NE(Dispatcher->PurgeOutput(), 0);
    EXPECT_EQ(Dispatcher->OutputInUse(), 0);

    // What reaches the meter now is less than was queued, and the line works on afterwards.
    const std::vector<std::uint8_t> mark{'E', 'N', 'D'};
    ASSERT_EQ(Send(mark), ecOK);
    std::vector<std::uint8_t> got;
    for (;;) {
        auto more = Pty.ReadFromDevice(1 << 16, std::chrono::milliseconds(300));
        if (more.empty())
            break;
        got.insert(got.end(), more.begin(), more.end());
    }
    EXPECT_LT(got.size(), queued + mark.size());
    ASSERT_GE(got.size(), 3u);
    EXPECT_EQ(std::vector<std::uint8_t>(got.end() - 3, got.end()), mark);
    EXPECT_EQ(Dispatcher->TakeLineError(), 0);
    EXPECT_EQ(Dispatcher->LiveThreadCount(), 4);
}

TEST_F(OpenDispatcher, PeerHangUpEndsTheThreadsWithALineErrorAndNoBusyLoop) {
    std::vector<std::string> reported;
    std::mutex reportedLock;
    SetApplicationErrorReporter([&](const std::string& message) {
        std::lock_guard<std::mutex> guard(reportedLock);
        reported.push_back(message);
    });
    ASSERT_EQ(Open(), ecOK);
    const double cpuBefore = ProcessCpuMs();
    Pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return Dispatcher->LiveThreadCount() == 0; }));
    PumpUntil([] { return false; }, std::chrono::milliseconds(500));
    const double cpuUsed = ProcessCpuMs() - cpuBefore;
    SetApplicationErrorReporter(nullptr);

    EXPECT_EQ(Dispatcher->TakeLineError(), 10);
    EXPECT_LT(cpuUsed, 400.0) << "the threads kept polling a dead line";
    std::lock_guard<std::mutex> guard(reportedLock);
    EXPECT_TRUE(reported.empty()); // read and write failures are line errors, not messages
}

TEST_F(OpenDispatcher, DeviceClosedUnderTheThreadsEndsThemQuietly) {
    ASSERT_EQ(Open(), ecOK);
    ASSERT_TRUE(platform::CloseHandle(Dispatcher->DeviceHandle()));
    ASSERT_TRUE(PumpUntil([&] { return Dispatcher->LiveThreadCount() == 0; }));
    EXPECT_EQ(Dispatcher->TakeLineError(), 0);
}

TEST_F(OpenDispatcher, OlderFamilyMaskIsRetriedWithoutTheTrailingRingEvent) {
    Dispatcher->NtFamily = false;
    ASSERT_EQ(Open(), ecOK);
    // The status thread has settled on a mask the device accepts, and data still flows.
    std::uint32_t mask = 0;
    ASSERT_TRUE(PumpUntil([&] {
        return platform::GetCommMask(Dispatcher->DeviceHandle(), &mask) && mask == 0x01F9;
    }));
    const auto reply = Sequence(100);
    Pty.WriteToDevice(reply);
    ASSERT_TRUE(PumpUntil([&] { return Received.size() >= reply.size(); }));
    EXPECT_EQ(Dispatcher->LiveThreadCount(), 4);
}

// Reports modem lines of its own instead of the pseudo-terminal's ENOTTY.
class ModemLinesKernel : public platform::KernelInterface {
public:
    std::atomic<int> Lines{0};
    int Ioctl(int fd, unsigned long request, void* argument) override {
        if (request == TIOCMGET) {
            *static_cast<int*>(argument) = Lines.load();
            return 0;
        }
        if (request == TIOCMBIS || request == TIOCMBIC)
            return 0;
        return KernelInterface::Ioctl(fd, request, argument);
    }
};

TEST_F(OpenDispatcher, CtsChangeReachesAModemStatusTrigger) {
    ModemLinesKernel kernel;
    platform::SetKernelInterface(&kernel);
    ASSERT_EQ(Open(), ecOK);
    platform::SetKernelInterface(nullptr);

    // Fires when CTS (0x10) differs from "off".
    const std::int32_t trigger = Dispatcher->AddStatusTrigger(kTriggerModemStatus);
    ASSERT_EQ(Dispatcher->SetStatusTrigger(trigger, 0x1000, true), ecOK);
    kernel.Lines.store(TIOCM_CTS);
    ASSERT_TRUE(PumpUntil([&] {
        return std::find(Messages.begin(), Messages.end(), MsgTriggerStatus) != Messages.end();
    }));
    EXPECT_EQ(Dispatcher->CurrentModemStatus() & 0x10, 0x10);
    Dispatcher.reset(); // closes while the kernel interface is still alive
}

TEST(Win32Dispatcher, ReadThreadQueuesABurstIn256ByteBuffers) {
    PtyPair pty;
    TWin32Dispatcher d(nullptr);
    ASSERT_GT(d.OpenDevice(pty.SlavePath(), 4096, 4096), 0);
    const auto burst = Sequence(600);
    pty.WriteToDevice(burst);
    // Wait until the line holds the whole burst, so the thread's reads find it in one go.
    const int probe = ::open(pty.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(probe, 0);
    ASSERT_TRUE(mbus::testing::WaitFor([&] {
        int waiting = 0;
        return ::ioctl(probe, FIONREAD, &waiting) == 0 && waiting == 600;
    }));
    ::close(probe);

    {
        std::lock_guard<std::recursive_mutex> guard(d.ControlLock);
        d.ThreadsStarted.store(true);
        auto* reader = new TReadThread(d);
        d.ReadWorker = reader;
        ASSERT_TRUE(reader->Start());
    }
    ASSERT_TRUE(mbus::testing::WaitFor([&] { return d.ReceiveQueue.Count() == 3; }));
    d.StopThreads.store(true);
    ASSERT_TRUE(mbus::testing::WaitFor([&] { return d.LiveThreadCount() == 0; }));

    std::vector<std::uint8_t> all;
    for (std::int32_t expected : {256, 256, 88}) {
        auto buffer = d.ReceiveQueue.RemoveHead();
        ASSERT_EQ(buffer->BufferKind(), TIOBuffer::Kind::Data);
        auto& data = static_cast<TDataBuffer&>(*buffer);
        EXPECT_EQ(data.Filled, expected);
        all.insert(all.end(), data.Bytes(), data.Bytes() + data.Filled);
    }
    EXPECT_EQ(all, burst);
}

TEST(Win32Dispatcher, OutputRingWrapsAndCountsPending) {
    TWin32Dispatcher d(nullptr);
    d.OutRing = std::make_unique<std::uint8_t[]>(16);
    d.OutRingSize = 16;
    d.OutHead = 13;
    d.OutTail = 13;
    const auto bytes = Sequence(10, 1);
    EXPECT_EQ(d.QueueOutput(bytes.data(), 10), 10);
    EXPECT_EQ(d.OutHead, 7u);
    EXPECT_EQ(d.OutputPending(), 10);
    EXPECT_EQ(d.OutRing[13], 1);
    EXPECT_EQ(d.OutRing[0], bytes[3]);

    d.OutHead = 10;
    d.OutTail = 10;
    d.QueueOutput(bytes.data(), 6); // exactly up to the physical end
    EXPECT_EQ(d.OutHead, 0u);
    d.OutFull = true;
    EXPECT_EQ(d.OutputPending(), 16);
}

TEST(Win32Dispatcher, ReceiveHandOverTakesAcrossBuffersAndStopsAtStatus) {
    TWin32Dispatcher d(nullptr);
    const auto append = [&](std::int32_t filled) {
        auto buffer = std::make_unique<TDataBuffer>(256);
        for (std::int32_t i = 0; i < filled; ++i)
            buffer->Bytes()[i] = static_cast<std::uint8_t>(i);
        buffer->Filled = filled;
        d.ReceiveQueue.Append(std::move(buffer));
    };
    append(256);
    append(100);
    EXPECT_EQ(d.ReceivePending(), 256); // only the head buffer counts
    std::vector<std::uint8_t> destination(300);
    EXPECT_EQ(d.TakeReceived(destination.data(), 300), 300);
    EXPECT_EQ(d.ReceivePending(), 56);
    EXPECT_EQ(destination[256], 0);
    EXPECT_EQ(destination[299], 43);

    d.ReceiveQueue.Clear();
    d.ReceiveQueue.Append(std::make_unique<TStatusBuffer>(platform::EV_CTS));
    append(10);
    EXPECT_EQ(d.ReceivePending(), 0);
    EXPECT_EQ(d.TakeReceived(destination.data(), 10), 0);
    EXPECT_EQ(d.ReceiveQueue.Count(), 2u);
}

TEST(Win32Dispatcher, ProbeIgnoresThePrefixAndFindsHeldDevices) {
    PtyPair pty;
    TWin32Dispatcher holder(nullptr);
    ASSERT_EQ(holder.OpenPort(pty.SlavePath(), 9600, 0, 8, 1, 4096, 4096, kOpenDtrOn | kOpenRtsOn),
              ecOK);
    TWin32Dispatcher probe(nullptr);
    EXPECT_TRUE(probe.ProbeDevice(pty.SlavePath()));
    EXPECT_TRUE(probe.ProbeDevice("\\\\.\\" + pty.SlavePath()));
    EXPECT_FALSE(probe.ProbeDevice("\\\\.\\/dev/no-such-serial-device"));
    // A dispatcher whose open failed has no device and no threads: it shuts down at once.
    EXPECT_LT(probe.OpenPort("/dev/no-such-serial-device", 9600, 0, 8, 1, 4096, 4096,
                             kOpenDtrOn | kOpenRtsOn),
              0);
    EXPECT_EQ(probe.DeviceHandle(), -1);
    EXPECT_EQ(probe.ShutDevice(), 0);
}

TEST(Win32Dispatcher, DiscardOutputWithoutWriteThreadLeavesTheRing) {
    TWin32Dispatcher d(nullptr);
    d.OutRing = std::make_unique<std::uint8_t[]>(16);
    d.OutRingSize = 16;
    d.OutHead = 5;
    EXPECT_EQ(d.DiscardQueued(kDiscardOutput), 0);
    EXPECT_EQ(d.OutHead, 5u);
    EXPECT_EQ(d.DiscardQueued(7), 0);
}

TEST(TapiDispatcher, WithoutAHandleTheOpenFailsAsNotOpen) {
    TTapiDispatcher d(nullptr, 0);
    EXPECT_EQ(d.OpenPort("", 2400, 0, 8, 1, 4096, 4096, kOpenDtrOn | kOpenRtsOn), ecNotOpen);
}

} // namespace
} // namespace mbus::serial

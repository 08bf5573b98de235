// The dispatch pass and the delivery of notifications, with the real dispatcher thread and real
// message windows on the test's thread, over a fake device.
#include "fake_dispatcher.h"

#include "platform/clock.h"
#include "platform/message_window.h"
#include "serial/notify_messages.h"

#include "support/wait_until.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace mbus::serial {
namespace {

using mbus::testing::PumpFor;
using mbus::testing::PumpUntil;

using testing::FakeDispatcher;

struct Message {
    std::uint32_t Msg;
    std::uintptr_t WParam;
    std::intptr_t LParam;
};

// A message window of the calling thread whose messages are recorded and handed to `OnMessage`.
class RecordingWindow {
public:
    RecordingWindow() {
        Handle = platform::CreateMessageWindow(
            [this](platform::WindowHandle, std::uint32_t msg, std::uintptr_t w, std::intptr_t l) {
                Messages.push_back({msg, w, l});
                if (OnMessage)
                    OnMessage(msg, w, l);
                return std::intptr_t{0};
            });
    }
    ~RecordingWindow() { platform::DestroyMessageWindow(Handle); }

    platform::WindowHandle Handle;
    std::vector<Message> Messages;
    std::function<void(std::uint32_t, std::uintptr_t, std::intptr_t)> OnMessage;
};

class Delivery : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Dispatcher.OpenPort("fake", 9600, 0, 8, 1, 4096, 4096, kOpenDtrOn | kOpenRtsOn),
                  ecOK);
        Dispatcher.SetAvailThreshold(1);
    }

    // Registers `window` the way the port component does.
    void Register(RecordingWindow& window, bool componentWants = true) {
        Dispatcher.AddNotifyWindow(window.Handle);
        Dispatcher.UpdateNotifyNeed(componentWants ? kNotifyNeedComponentWants
                                                   : kNotifyNeedComponentIgnores);
    }

    // Registers `window` with a handler that takes up to `count` bytes per notification into
    // `taken`.
    void RegisterTaker(RecordingWindow& window, std::string& taken, int count) {
        window.OnMessage = [this, &taken, count](std::uint32_t msg, std::uintptr_t, std::intptr_t) {
            if (msg != MsgTriggerAvail)
                return;
            for (int i = 0; i < count; ++i) {
                std::uint8_t byte;
                if (Dispatcher.TakeByte(byte) == ecOK)
                    taken.push_back(static_cast<char>(byte));
            }
        };
        Register(window);
    }

    bool Idle() { return !Dispatcher.InDispatchNow(); }

    FakeDispatcher Dispatcher;
};

TEST_F(Delivery, OneNotificationAnnouncesEveryUnreadByte) {
    RecordingWindow window;
    std::string taken;
    RegisterTaker(window, taken, 5);

    Dispatcher.Receive("12345");
    ASSERT_TRUE(PumpUntil([&] { return taken.size() == 5 && Idle(); }));
    ASSERT_EQ(window.Messages.size(), 1u);
    EXPECT_EQ(window.Messages[0].Msg, MsgTriggerAvail);
    EXPECT_EQ(window.Messages[0].WParam, 5u);
    EXPECT_EQ(NotifyParamHandle(window.Messages[0].LParam), Dispatcher.RegistryHandle());
    EXPECT_EQ(taken, "12345");
    ASSERT_TRUE(PumpUntil([&] { return Dispatcher.InputCount() == 0; }));

    PumpFor(std::chrono::milliseconds(150));
    EXPECT_EQ(window.Messages.size(), 1u);
}

TEST_F(Delivery, UntakenBytesAreAnnouncedAgainWithTheNextArrival) {
    RecordingWindow window;
    std::string taken;
    RegisterTaker(window, taken, 3);

    Dispatcher.Receive("12345");
    ASSERT_TRUE(PumpUntil([&] { return taken.size() == 3 && Idle(); }));
    ASSERT_TRUE(PumpUntil([&] { return Dispatcher.InputCount() == 2; }));
    PumpFor(std::chrono::milliseconds(150));
    EXPECT_EQ(window.Messages.size(), 1u);

    Dispatcher.Receive("6");
    ASSERT_TRUE(PumpUntil([&] { return window.Messages.size() == 2 && Idle(); }));
    EXPECT_EQ(window.Messages[1].WParam, 3u);
    EXPECT_EQ(taken, "123456");
}

TEST_F(Delivery, TheMostAnyTargetTookIsConsumed) {
    RecordingWindow first;
    RecordingWindow second;
    std::string takenFirst;
    std::string takenSecond;
    RegisterTaker(first, takenFirst, 2);
    RegisterTaker(second, takenSecond, 4);

    Dispatcher.Receive("abcdef");
    ASSERT_TRUE(PumpUntil([&] { return takenSecond.size() == 4 && Idle(); }));
    // Both read from the same point; the input advances by the larger share.
    EXPECT_EQ(takenFirst, "ab");
    EXPECT_EQ(takenSecond, "abcd");
    ASSERT_TRUE(PumpUntil([&] { return Dispatcher.InputCount() == 2; }));
}

// The handler's thread takes without a lock; another thread taking in the same delivery takes
// the following bytes under the lock, and every byte counts once.
TEST_F(Delivery, TakesFromTheHandlerAndAnotherThreadCountOnce) {
    RecordingWindow window;
    std::string taken;
    window.OnMessage = [&](std::uint32_t msg, std::uintptr_t, std::intptr_t) {
        if (msg != MsgTriggerAvail)
            return;
        const auto take = [&] {
            std::uint8_t byte;
            if (Dispatcher.TakeByte(byte) == ecOK)
                taken.push_back(static_cast<char>(byte));
        };
        take();
        take();
        std::thread other(take);
        other.join();
        take();
    };
    Register(window);

    Dispatcher.Receive("abcdef");
    ASSERT_TRUE(PumpUntil([&] { return taken.size() == 4 && Idle(); }));
    EXPECT_EQ(taken, "abcd");
    ASSERT_TRUE(PumpUntil([&] { return Dispatcher.InputCount() == 2; }));
}

TEST_F(Delivery, NothingIsSentOrConsumedWithoutAnInterestedTarget) {
    RecordingWindow window;
    window.OnMessage = [this](std::uint32_t, std::uintptr_t, std::intptr_t) {
        std::uint8_t byte;
        Dispatcher.TakeByte(byte);
    };
    Register(window, false);

    Dispatcher.Receive("xyz");
    ASSERT_TRUE(PumpUntil([&] { return Dispatcher.InputCount() == 3; }));
    PumpFor(std::chrono::milliseconds(150));
    EXPECT_TRUE(window.Messages.empty());
    EXPECT_EQ(Dispatcher.InputCount(), 3);
}

TEST_F(Delivery, DataAvailableComesBeforeTheDataMatch) {
    RecordingWindow window;
    Register(window);
    const std::int32_t trigger = Dispatcher.AddDataTrigger("XYZ", false);
    ASSERT_GT(trigger, 0);

    Dispatcher.Receive("XXYXYZ");
    ASSERT_TRUE(PumpUntil([&] { return window.Messages.size() >= 3 && Idle(); }));
    EXPECT_EQ(window.Messages[0].Msg, MsgTriggerAvail);
    EXPECT_EQ(window.Messages[0].WParam, 3u); // the bytes before the match: X X Y
    EXPECT_EQ(window.Messages[1].Msg, MsgTriggerData);
    EXPECT_EQ(window.Messages[1].WParam, static_cast<std::uintptr_t>(trigger));
    EXPECT_EQ(NotifyParamData(window.Messages[1].LParam), 3);
    // Nothing was taken, so the whole chunk is announced once the scan is through.
    EXPECT_EQ(window.Messages[2].Msg, MsgTriggerAvail);
    EXPECT_EQ(window.Messages[2].WParam, 6u);
}

TEST_F(Delivery, StatusTriggerFiresOnceAndStaysDisarmed) {
    RecordingWindow window;
    Register(window);
    const std::int32_t trigger = Dispatcher.AddStatusTrigger(kTriggerOutbuffFree);
    ASSERT_EQ(trigger & kTriggerClassMask, kTriggerOutbuffFree);
    ASSERT_EQ(Dispatcher.SetStatusTrigger(trigger, 100, true), ecOK);

    ASSERT_TRUE(PumpUntil([&] { return !window.Messages.empty() && Idle(); }));
    EXPECT_EQ(window.Messages[0].Msg, MsgTriggerStatus);
    EXPECT_EQ(window.Messages[0].WParam, static_cast<std::uintptr_t>(trigger));
    EXPECT_EQ(NotifyParamData(window.Messages[0].LParam), 4096);
    PumpFor(std::chrono::milliseconds(150));
    EXPECT_EQ(window.Messages.size(), 1u);
}

TEST_F(Delivery, TimerTriggerFiresWhenItsTicksHavePassed) {
    RecordingWindow window;
    Register(window);
    const std::int32_t trigger = Dispatcher.AddTimerTrigger();
    ASSERT_EQ(Dispatcher.SetTimerTrigger(trigger, 1, true), ecOK);
    ASSERT_TRUE(PumpUntil([&] { return !window.Messages.empty(); }));
    EXPECT_EQ(window.Messages[0].Msg, MsgTriggerTimer);
    EXPECT_EQ(window.Messages[0].WParam, static_cast<std::uintptr_t>(trigger));
    EXPECT_EQ(Dispatcher.RemoveTrigger(trigger), ecOK);
    EXPECT_EQ(Dispatcher.RemoveTrigger(trigger), ecBadTriggerHandle);
}

TEST_F(Delivery, ProcedureAndSynchronizedEventTargetsConsumeLikeWindows) {
    std::atomic<int> procCalls{0};
    Dispatcher.AddNotifyProc([&](std::uint32_t msg, std::uint32_t, std::intptr_t) {
        if (msg != MsgTriggerAvail)
            return;
        std::uint8_t byte;
        Dispatcher.TakeByte(byte);
        procCalls.fetch_add(1);
    });
    std::thread::id eventThread;
    std::string eventTaken;
    Dispatcher.AddNotifyEvent(
        [&](std::uint32_t msg, std::uint32_t, std::intptr_t) {
            if (msg != MsgTriggerAvail)
                return;
            eventThread = std::this_thread::get_id();
            for (int i = 0; i < 2; ++i) {
                std::uint8_t byte;
                if (Dispatcher.TakeByte(byte) == ecOK)
                    eventTaken.push_back(static_cast<char>(byte));
            }
        },
        true);

    Dispatcher.Receive("pq");
    ASSERT_TRUE(PumpUntil([&] { return procCalls.load() == 1 && Idle(); }));
    EXPECT_EQ(eventThread, std::this_thread::get_id());
    EXPECT_EQ(eventTaken, "pq");
    ASSERT_TRUE(PumpUntil([&] { return Dispatcher.InputCount() == 0; }));
}

TEST_F(Delivery, RemovingAWindowDuringADeliveryWaitsForItsEnd) {
    RecordingWindow window;
    std::size_t targetsDuring = 0;
    window.OnMessage = [&](std::uint32_t, std::uintptr_t, std::intptr_t) {
        Dispatcher.RemoveNotifyWindow(window.Handle);
        targetsDuring = Dispatcher.WindowTargets.size();
    };
    Register(window);
    Dispatcher.Receive("1");
    ASSERT_TRUE(PumpUntil([&] { return !window.Messages.empty() && Idle(); }));
    EXPECT_EQ(targetsDuring, 1u); // only marked deleted while the delivery ran
    std::lock_guard<std::recursive_mutex> guard(Dispatcher.ControlLock);
    EXPECT_TRUE(Dispatcher.WindowTargets.empty());
}

TEST_F(Delivery, LogRecordsReadsNotificationsAndTargets) {
    Dispatcher.StartDispatchLog(0);
    RecordingWindow window;
    std::string taken;
    RegisterTaker(window, taken, 2);
    Dispatcher.Receive("ab");
    ASSERT_TRUE(PumpUntil([&] { return taken.size() == 2 && Idle(); }));

    bool sawRegistration = false, sawRead = false, sawAvail = false;
    while (auto buffer = Dispatcher.LogQueue.RemoveHead()) {
        const auto& entry = static_cast<const TLogBuffer&>(*buffer);
        sawRegistration |=
            entry.Kind == lkTargetAdded && entry.Detail == ldWindow && entry.Value == window.Handle;
        sawRead |= entry.Kind == lkDispatch && entry.Detail == ldReadCom && entry.Value == 2 &&
                   entry.Payload() == std::vector<std::uint8_t>{'a', 'b'};
        sawAvail |= entry.Kind == lkTrigger && entry.Detail == ldAvail && entry.Value == 2;
    }
    EXPECT_TRUE(sawRegistration);
    EXPECT_TRUE(sawRead);
    EXPECT_TRUE(sawAvail);
}

// After everything announced was taken, a burst that fills the whole input buffer (8192 new
// bytes, so the write position comes round to where the last notification was) is still
// announced: the dispatcher must not mistake it for "nothing new" and stall.
TEST(DeliveryPass, AFullTurnOfNewBytesIsAnnounced) {
    FakeDispatcher d;
    d.PrepareBuffers();
    RecordingWindow window;
    std::size_t taken = 0;
    window.OnMessage = [&](std::uint32_t msg, std::uintptr_t count, std::intptr_t) {
        for (std::uintptr_t i = 0; msg == MsgTriggerAvail && i < count; ++i) {
            std::uint8_t byte;
            if (d.TakeByte(byte) == ecOK)
                ++taken;
        }
    };
    d.AddNotifyWindow(window.Handle);
    d.UpdateNotifyNeed(kNotifyNeedComponentWants);
    d.SetAvailThreshold(1);

    d.Receive("hello");
    ASSERT_TRUE(d.FillInputBuffer());
    EXPECT_TRUE(d.CheckDataTriggers());
    EXPECT_EQ(taken, 5u);

    d.Receive(std::string(kInBufferSize, 'x'));
    ASSERT_TRUE(d.FillInputBuffer());
    EXPECT_EQ(d.InputCount(), kInBufferSize);
    EXPECT_TRUE(d.CheckDataTriggers());
    ASSERT_EQ(window.Messages.size(), 2u);
    EXPECT_EQ(window.Messages[1].WParam, static_cast<std::uintptr_t>(kInBufferSize));
    EXPECT_EQ(taken, 5u + kInBufferSize);
}

// A producer feeding the receive queue as fast as it can while the window thread takes every
// announced byte: nothing lost, nothing doubled, order kept.
TEST_F(Delivery, EveryByteExactlyOnceInOrderUnderLoad) {
    constexpr std::size_t kTotal = 1 << 20;
    RecordingWindow window;
    std::size_t received = 0;
    bool inOrder = true;
    window.OnMessage = [&](std::uint32_t msg, std::uintptr_t count, std::intptr_t) {
        if (msg != MsgTriggerAvail)
            return;
        for (std::uintptr_t i = 0; i < count; ++i) {
            std::uint8_t byte;
            if (Dispatcher.TakeByte(byte) != ecOK) {
                inOrder = false;
                return;
            }
            inOrder &= byte == static_cast<std::uint8_t>(received * 7);
            ++received;
        }
    };
    Register(window);

    std::thread producer([&] {
        std::size_t sent = 0;
        while (sent < kTotal) {
            auto buffer = std::make_unique<TDataBuffer>(256);
            for (int k = 0; k < 256; ++k)
                buffer->Bytes()[k] = static_cast<std::uint8_t>((sent + k) * 7);
            buffer->Filled = 256;
            sent += 256;
            Dispatcher.ReceiveQueue.Append(std::move(buffer));
            // Keep the queue from growing without bound when the consumer is slower.
            while (Dispatcher.ReceiveQueue.Count() > 512)
                std::this_thread::yield();
        }
    });
    EXPECT_TRUE(PumpUntil([&] { return received == kTotal || !inOrder; },
                          std::chrono::milliseconds(60000)));
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(received, kTotal);
}

// The same with a third thread purging now and then: the run breaks only where a purge cut it.
TEST_F(Delivery, PurgesOnlyCutTheStream) {
    constexpr std::size_t kTotal = 1 << 18;
    RecordingWindow window;
    std::size_t received = 0;
    std::size_t breaks = 0;
    int last = -1;
    window.OnMessage = [&](std::uint32_t msg, std::uintptr_t count, std::intptr_t) {
        if (msg != MsgTriggerAvail)
            return;
        for (std::uintptr_t i = 0; i < count; ++i) {
            std::uint8_t byte;
            if (Dispatcher.TakeByte(byte) != ecOK)
                return; // a purge emptied the rest
            if (last >= 0 && byte != static_cast<std::uint8_t>(last + 1))
                ++breaks;
            last = byte;
            ++received;
        }
    };
    Register(window);

    std::atomic<bool> producing{true};
    std::atomic<int> purges{0};
    std::thread producer([&] {
        for (std::size_t sent = 0; sent < kTotal; sent += 256) {
            auto buffer = std::make_unique<TDataBuffer>(256);
            for (int k = 0; k < 256; ++k)
                buffer->Bytes()[k] = static_cast<std::uint8_t>(sent + k);
            buffer->Filled = 256;
            Dispatcher.ReceiveQueue.Append(std::move(buffer));
            while (Dispatcher.ReceiveQueue.Count() > 256)
                std::this_thread::yield();
        }
        producing.store(false);
    });
    std::thread purger([&] {
        while (producing.load()) {
            Dispatcher.PurgeInput();
            purges.fetch_add(1);
            platform::Sleep(2);
        }
    });
    PumpUntil([&] { return !producing.load() && Idle() && Dispatcher.InputCount() == 0; },
              std::chrono::milliseconds(60000));
    producer.join();
    purger.join();
    EXPECT_GT(received, 0u);
    EXPECT_LE(received, kTotal);
    EXPECT_LE(breaks, 2u * static_cast<std::size_t>(purges.load()) + 1u);
}

} // namespace
} // namespace mbus::serial

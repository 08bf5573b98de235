// The port component against pseudo-terminals registered as COM ports in a throw-away port map:
// the test holds each master side and plays the meter. On Windows the lines are COM port pairs.
#include "platform/clock.h"
#include "platform/comm_device.h"
#include "platform/event.h"
#include "platform/message_window.h"
#include "serial/application_errors.h"
#include "serial/com_port.h"
#include "serial/exceptions.h"
#include "serial/port_prompt.h"
#include "support/bytes.h"
#include "support/pty_pair.h"
#include "support/test_platform.h"
#include "support/wait_until.h"
#ifndef _WIN32
#include "platform/port_map.h"
#include "support/temp_config_home.h"
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace mbus::serial {
namespace {

using namespace std::string_literals;

using mbus::testing::PumpFor;
using mbus::testing::PumpUntil;

using mbus::testing::BytesOf;
using mbus::testing::PtyPair;
using mbus::testing::RegisterTestPort;

class ComPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        Com = RegisterTestPort(Pty, 3);
        Port.SetComNumber(Com);
        Port.SetBaud(2400);
        Port.SetParity(pEven);
    }
    void TearDown() override {
        SetPortPrompt(nullptr);
#ifdef _WIN32
        std::error_code ignored;
        std::filesystem::remove(ScratchPath("trace.trc"), ignored);
        std::filesystem::remove(ScratchPath("port.log"), ignored);
#endif
    }

    // A file of the test's own: in the temporary config home on Linux, in the temporary folder
    // on Windows.
    std::string ScratchPath(const std::string& name) {
#ifdef _WIN32
        return (std::filesystem::temp_directory_path() / ("mbus-com-port-test-" + name)).string();
#else
        return Home.Root().string() + "/" + name;
#endif
    }

    // A handler that takes `perEvent` bytes (all announced ones when negative) into Received.
    void TakeBytes(int perEvent = -1) {
        Port.SetOnTriggerAvail([this, perEvent](TComponent*, std::uint16_t count) {
            Counts.push_back(count);
            const int take = perEvent < 0 ? count : perEvent;
            for (int i = 0; i < take; ++i)
                Received.push_back(Port.ReadChar());
        });
    }

#ifndef _WIN32
    testing::TempConfigHome Home;
#endif
    PtyPair Pty;
    int Com = 0; // the COM number of Pty
    TComPort Port;
    std::string Received;
    std::vector<std::uint16_t> Counts;
};

TEST_F(ComPortTest, DefaultsAreThePublishedOnes) {
    TComPort fresh;
    EXPECT_EQ(fresh.ComNumber(), 0);
    EXPECT_EQ(fresh.Baud(), 19200);
    EXPECT_EQ(fresh.Parity(), pNone);
    EXPECT_EQ(fresh.DataBits(), 8);
    EXPECT_EQ(fresh.StopBits(), 1);
    EXPECT_EQ(fresh.InSize(), 4096);
    EXPECT_EQ(fresh.OutSize(), 4096);
    EXPECT_TRUE(fresh.AutoOpen());
    EXPECT_TRUE(fresh.PromptForPort());
    EXPECT_FALSE(fresh.Open());
    EXPECT_TRUE(fresh.DTR());
    EXPECT_TRUE(fresh.RTS());
    EXPECT_EQ(fresh.XOnChar(), 17);
    EXPECT_EQ(fresh.XOffChar(), 19);
    EXPECT_EQ(fresh.TraceSize(), 10000u);
    EXPECT_EQ(fresh.TraceName(), "COMPORT.TRC");
    EXPECT_EQ(fresh.LogName(), "COMPORT.LOG");
    EXPECT_EQ(fresh.TapiMode(), tmAuto);
    EXPECT_EQ(fresh.CommNotificationLevel(), 10);
    EXPECT_EQ(fresh.AvailThreshold(), 1);
    EXPECT_EQ(fresh.Version(), "v5.00");
    fresh.SetVersion("v9");
    EXPECT_EQ(fresh.Version(), "v5.00");
    fresh.SetUseMSRShadow(false);
    EXPECT_TRUE(fresh.UseMSRShadow());
    fresh.SetDeviceLayer(dlWinsock);
    EXPECT_EQ(fresh.DeviceLayer(), dlWin32);
}

TEST_F(ComPortTest, OpensSendsAndReceivesTheMetersReply) {
    TakeBytes();
    Port.SetOpen(true);
    ASSERT_TRUE(Port.Open());
    Port.SetOpen(true); // already open: nothing happens

    const std::string request =
        "\xFE\xFE\x68\x10\xAA\xAA\xAA\xAA\xAA\xAA\xAA\x01\x03\x1F\x90\x00\xD1\x16"s;
    Port.SendString(request);
    EXPECT_EQ(Pty.ReadFromDevice(request.size(), std::chrono::seconds(5)), BytesOf(request));

    Pty.WriteToDevice(BytesOf("reply bytes"));
    ASSERT_TRUE(PumpUntil([&] { return Received.size() == 11; }));
    EXPECT_EQ(Received, "reply bytes");
    for (std::uint16_t count : Counts)
        EXPECT_GE(count, 1);

    Port.SetOpen(false);
    EXPECT_FALSE(Port.Open());
    EXPECT_EQ(Port.PortState(), psClosed);
    Port.SetOpen(false);
}

TEST_F(ComPortTest, EveryByteOnceInOrderAcrossManyNotifications) {
    TakeBytes();
    Port.SetOpen(true);
    std::string sent;
    for (int i = 0; i < 200; ++i) {
        std::string chunk(1 + (i * 37) % 300, '\0');
        for (std::size_t k = 0; k < chunk.size(); ++k)
            chunk[k] = static_cast<char>(sent.size() + k);
        Pty.WriteToDevice(BytesOf(chunk));
        sent += chunk;
    }
    ASSERT_TRUE(PumpUntil([&] { return Received.size() >= sent.size(); },
                          std::chrono::milliseconds(20000)));
    EXPECT_EQ(Received, sent);
    for (std::uint16_t count : Counts) {
        EXPECT_GE(count, 1);
        EXPECT_LE(count, 8192);
    }
}

TEST_F(ComPortTest, UntakenBytesAreAnnouncedAgainWithTheNextOnes) {
    TakeBytes(2);
    Port.SetOpen(true);
    Pty.WriteToDevice(BytesOf("abcde"));
    ASSERT_TRUE(PumpUntil([&] { return Received.size() == 2; }));
    Pty.WriteToDevice(BytesOf("f"));
    ASSERT_TRUE(PumpUntil([&] { return Received.size() == 4; }));
    EXPECT_EQ(Received, "abcd");
    ASSERT_GE(Counts.size(), 2u);
    EXPECT_EQ(Counts.back(), 4); // "cde" left over, and "f"
}

TEST_F(ComPortTest, ReadCharWithNothingLeftRaises) {
    Port.SetOpen(true);
    EXPECT_THROW(Port.ReadChar(), EBufferIsEmpty);
    try {
        Port.ReadChar();
    } catch (const ECommException& e) {
        EXPECT_STREQ(e.what(), "Buffer is empty");
        EXPECT_EQ(e.Code(), -3007);
    }
}

TEST_F(ComPortTest, SendStringIsAllOrNothing) {
    Port.SetOpen(true);
    const std::string exact(4096, 'x');
    Port.SendString(exact); // exactly the free room
    EXPECT_EQ(Pty.ReadFromDevice(4096, std::chrono::seconds(5)).size(), 4096u);
    ASSERT_TRUE(PumpUntil([&] { return Port.RequireDispatcher()->OutputInUse() == 0; }));

    EXPECT_THROW(Port.SendString(std::string(4097, 'y')), EOutputBufferTooSmall);
    EXPECT_TRUE(Pty.ReadFromDevice(1, std::chrono::milliseconds(200)).empty());
    Port.SendString(""); // nothing to send on an open port
}

TEST_F(ComPortTest, OperationsOpenAClosedPortOnDemand) {
    Port.SendString("hi");
    EXPECT_TRUE(Port.Open());
    EXPECT_EQ(Pty.ReadFromDevice(2, std::chrono::seconds(5)), BytesOf("hi"));
    Port.SetOpen(false);

    EXPECT_THROW(Port.ReadChar(), EBufferIsEmpty); // opened first, then nothing to read
    EXPECT_TRUE(Port.Open());
    Port.SetOpen(false);

    Port.SetAutoOpen(false);
    EXPECT_THROW(Port.SendString("x"), ECommNotOpen);
    EXPECT_THROW(Port.ReadChar(), ECommNotOpen);
    EXPECT_FALSE(Port.Open());
}

// Expects opening `port` to raise E with `message` and to leave the port closed.
template <class E> void ExpectOpenRaises(TComPort& port, const char* message) {
    try {
        port.SetOpen(true);
        FAIL() << "no exception";
    } catch (const E& e) {
        EXPECT_STREQ(e.what(), message);
    }
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.PortState(), psClosed);
}

TEST_F(ComPortTest, OpenFailuresRaiseTheNamedExceptions) {
    Port.SetComNumber(9); // no such port
    ExpectOpenRaises<EBadId>(Port, "ie_BadId - Specified comport doesn't exist");

    if (testing::RunsUnderWine())
        GTEST_SKIP() << "Wine does not refuse a second open of a COM port";
    Port.SetComNumber(Com);
    const platform::CommHandle held = platform::CreateFile(Pty.SlavePath());
    ASSERT_NE(held, platform::INVALID_HANDLE_VALUE);
    ExpectOpenRaises<EAlreadyOpen>(Port, "ie_Open - device already open");
    platform::CloseHandle(held);
    Port.SetOpen(true);
    EXPECT_TRUE(Port.Open());
}

TEST_F(ComPortTest, PortNumberZeroAsksOrRefuses) {
    TComPort port;
    port.SetPromptForPort(false);
    EXPECT_THROW(port.SetOpen(true), ENoPortSelected);

    port.SetPromptForPort(true);
    int asked = 0;
    SetPortPrompt([&]() -> std::optional<int> {
        ++asked;
        return std::nullopt;
    });
    try {
        port.SendString("x");
        FAIL();
    } catch (const ENoPortSelected& e) {
        EXPECT_STREQ(e.what(), "The ComNumber property of the TComPort has not been set");
    }
    EXPECT_EQ(asked, 1);

    SetPortPrompt([this]() -> std::optional<int> { return Com; });
    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.ComNumber(), Com);
}

TEST_F(ComPortTest, TelephonyModeFailsWithoutAHandle) {
    Port.SetTapiMode(tmOn);
    EXPECT_THROW(Port.SetOpen(true), ENotOpenedByTapi);
    EXPECT_FALSE(Port.Open());
}

TEST_F(ComPortTest, LineSettingsChangeWhileOpenWithoutReopening) {
    Port.SetOpen(true);
    TBaseDispatcher* before = Port.RequireDispatcher();
    Port.SetBaud(57600);
    EXPECT_EQ(Port.RequireDispatcher(), before);
    EXPECT_EQ(before->AppliedBaud, 57600u);
    Port.SetParity(pOdd);
    EXPECT_EQ(before->QueryLine().Baud, 57600);
    Port.SetOpen(false);
    Port.SetBaud(9600); // closed: only stored
    EXPECT_EQ(Port.Baud(), 9600);
}

TEST_F(ComPortTest, ComNumberWhileOpenMovesToTheOtherPort) {
    PtyPair other;
    const int otherCom = RegisterTestPort(other, 4);
    Port.SetOpen(true);
    Port.RequireDispatcher()->AddDataTrigger("OK", false);
    Port.SetComNumber(otherCom);
    EXPECT_TRUE(Port.Open());
    EXPECT_EQ(Port.RequireDispatcher()->DataTriggers.size(), 1u);
    Port.SendString("z");
    EXPECT_EQ(other.ReadFromDevice(1, std::chrono::seconds(5)), BytesOf("z"));
}

TEST_F(ComPortTest, FlowThresholdsFollowTheirRules) {
    TComPort port;
    port.SetBufferFull(5000);
    EXPECT_EQ(port.BufferFull(), 3686); // 4500 is still above InSize: 90 % of InSize
    port.SetBufferFull(3686);
    port.SetBufferResume(4000);
    EXPECT_EQ(port.BufferResume(), 368);

    TComPort flow;
    flow.SetHWFlowOptions(FlowOption(hwfUseRTS));
    EXPECT_EQ(flow.BufferFull(), 3686);
    EXPECT_EQ(flow.BufferResume(), 409);
    flow.SetBufferFull(5000);
    EXPECT_EQ(flow.BufferFull(), 3686);

    TComPort software;
    software.SetSWFlowOptions(swfBoth);
    EXPECT_EQ(software.BufferFull(), 3072);
    EXPECT_EQ(software.BufferResume(), 1024);

    TComPort rs485;
    rs485.SetHWFlowOptions(FlowOption(hwfUseRTS) | FlowOption(hwfUseDTR));
    rs485.SetRS485Mode(true);
    EXPECT_EQ(rs485.HWFlowOptions(), FlowOption(hwfUseDTR));
    EXPECT_FALSE(rs485.RTS());
    rs485.SetHWFlowOptions(FlowOption(hwfRequireCTS));
    EXPECT_FALSE(rs485.RS485Mode());
}

// Thresholds the setters accepted never make an open fail: the device takes none above InSize.
TEST_F(ComPortTest, ThresholdsAcceptedEarlierNeverFailAnOpen) {
    Port.SetBufferFull(5000);
    Port.SetOpen(true);
    EXPECT_TRUE(Port.Open());
    Port.SetOpen(false);

    Port.SetBufferFull(3686);
    Port.SetBufferResume(406);
    Port.SetInSize(1000);
    EXPECT_EQ(Port.BufferFull(), 900);
    EXPECT_EQ(Port.BufferResume(), 406);
    Port.SetOpen(true);
    EXPECT_TRUE(Port.Open());
}

TEST_F(ComPortTest, AFailingOnPortOpenFailsTheOpenAndReleasesTheDevice) {
    Port.SetOnPortOpen([](TComponent*) { throw std::runtime_error("handler failed"); });
    EXPECT_THROW(Port.SetOpen(true), std::runtime_error);
    EXPECT_FALSE(Port.Open());
    EXPECT_EQ(Port.PortState(), psClosed);
    EXPECT_EQ(Port.NotifyWnd(), 0u);

    Port.SetOnPortOpen(nullptr);
    Port.SetOpen(true);
    EXPECT_TRUE(Port.Open());
}

#ifndef _WIN32 // on Windows the test's far end closing is no hang-up
// The peer hangs up under an open port: the port closes by itself, OnPortClose and then
// OnPortLost tell the owner on its own thread, and once a device is back the port opens again.
TEST_F(ComPortTest, ALostLineClosesThePortAndIsReportedOnce) {
    TakeBytes();
    std::vector<std::string> events;
    Port.SetOnPortClose([&](TComponent*) { events.push_back("close"); });
    Port.SetOnPortLost([&](TComponent* cp, const std::string& cause) {
        EXPECT_EQ(cp, &Port);
        EXPECT_FALSE(Port.Open());
        EXPECT_EQ(Port.PortState(), psClosed);
        events.push_back("lost: " + cause);
    });
    Port.SetOpen(true);
    Pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return events.size() == 2; }));
    EXPECT_EQ(events[0], "close");
    EXPECT_EQ(events[1], "lost: Device read error (The device is not connected)");
    PumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(events.size(), 2u);
    EXPECT_FALSE(Port.Open());
    EXPECT_EQ(Port.NotifyWnd(), 0u);

    PtyPair back;
    platform::RemovePortLink(Com, Pty.SlavePath());
    RegisterTestPort(back, Com);
    Port.SetOpen(true);
    ASSERT_TRUE(Port.Open());
    back.WriteToDevice(BytesOf("again"));
    ASSERT_TRUE(PumpUntil([&] { return Received == "again"; }));

    // A close the owner asks for is no loss.
    Port.SetOpen(false);
    PumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(events.size(), 3u);
}
#endif

#ifndef _WIN32 // a line that holds bytes before the device is opened needs a pseudo-terminal
// A far end that streams `bytes` into the line from the moment it is made, as fast as the line
// takes them, until all are written or it is stopped.
class StreamingPeer {
public:
    StreamingPeer(PtyPair& line, const std::string& bytes)
        : Thread_([this, &line, &bytes] {
              const std::span all(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                  bytes.size());
              while (Written_.load() < all.size() && !Stop_.load()) {
                  const auto put = line.WriteMaster(all.subspan(Written_.load()));
                  if (put.Failed())
                      return;
                  Written_ += put.Count;
                  if (put.Count == 0)
                      line.WaitMaster(true, 100);
              }
          }) {}
    ~StreamingPeer() {
        Stop_.store(true);
        Thread_.join();
    }
    StreamingPeer(const StreamingPeer&) = delete;
    StreamingPeer& operator=(const StreamingPeer&) = delete;

    std::size_t Written() const { return Written_.load(); }

private:
    std::atomic<std::size_t> Written_{0};
    std::atomic<bool> Stop_{false};
    std::thread Thread_;
};

// A device that streams from before the port opens. The open empties the line and the stream
// goes on at once, so the input buffer fills while the component cannot take yet: once because
// its handler is assigned only after the buffer is full, then again and again because its window
// is registered only after the dispatcher thread has begun. Each open still delivers the rest of
// the stream to the handler, whole and in order.
TEST_F(ComPortTest, AStreamRunningBeforeTheOpenArrivesWholeAndInOrder) {
    PtyPair line(PtyPair::SlaveHold::Held);
    Port.SetComNumber(RegisterTestPort(line, 5));
    // More than the input buffer and the receive queue's bound together, without a period, so
    // the stretch that arrived tells where it started and a lost, repeated or reordered byte
    // shows.
    std::string stream(96 * 1024, '\0');
    std::uint32_t state = 1;
    for (char& byte : stream) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    const std::string end = stream.substr(stream.size() - 64);

    for (int open = 0; open < 100; ++open) {
        SCOPED_TRACE("open " + std::to_string(open));
        const bool handlerLate = open == 0;
        Received.clear();
        Port.SetOnTriggerAvail(nullptr);
        if (!handlerLate)
            TakeBytes();
        StreamingPeer peer(line, stream);
        ASSERT_TRUE(testing::WaitFor([&] { return peer.Written() > 0; }));
        Port.SetOpen(true);
        const std::size_t writtenAtOpen = peer.Written(); // the open dropped at most these
        if (handlerLate) {
            TBaseDispatcher& dispatcher = *Port.RequireDispatcher();
            ASSERT_TRUE(PumpUntil([&] { return dispatcher.InputCount() == kInBufferSize; }));
            // The pass that filled the buffer has ended: it has told the window of the bytes
            // while nobody there took any.
            dispatcher.PassDone.Reset();
            dispatcher.KickDispatcher();
            ASSERT_TRUE(PumpUntil([&] {
                return platform::WaitOne(dispatcher.PassDone, 0) == platform::WAIT_OBJECT_0;
            }));
            TakeBytes();
        }
        ASSERT_TRUE(
            PumpUntil([&] { return Received.ends_with(end); }, std::chrono::milliseconds(20000)))
            << Received.size() << " bytes arrived, " << peer.Written() << " were written";
        ASSERT_GE(Received.size(), stream.size() - writtenAtOpen);
        EXPECT_TRUE(Received == stream.substr(stream.size() - Received.size()))
            << "bytes lost, repeated or out of order";
        Port.SetOpen(false);
    }
}
#endif

TEST_F(ComPortTest, TraceAndLogCommands) {
    Port.SetTracing(tlDump); // closed: anything above "on" is stored as off
    EXPECT_EQ(Port.Tracing(), tlOff);
    Port.SetTracing(tlOn);
    Port.SetTraceName(ScratchPath("trace.trc"));
    Port.SetOpen(true);
    EXPECT_TRUE(Port.RequireDispatcher()->Tracing()); // started at open
    Port.SendString("AB");
    Port.SetTracing(tlPause);
    EXPECT_EQ(Port.Tracing(), tlPause);
    Port.SetTraceSize(5000000); // capped; a paused trace ends up off
    EXPECT_EQ(Port.TraceSize(), 4000000u);
    EXPECT_EQ(Port.Tracing(), tlOff);

    Port.SetTracing(tlOn);
    Port.SendString("CD");
    Port.SetOpen(false); // the close writes the trace
    std::FILE* file = std::fopen(Port.TraceName().c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char text[64] = {};
    std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    EXPECT_STREQ(text, "Transmit: \r\nCD\r\n");
    EXPECT_EQ(Port.Tracing(), tlOff);
}

TEST_F(ComPortTest, LogCommandsDriveTheDispatchLog) {
    Port.SetLogName(ScratchPath("port.log"));
    Port.SetLogging(tlOn);
    Port.SetOpen(true);
    TBaseDispatcher* dispatcher = Port.RequireDispatcher();
    EXPECT_TRUE(dispatcher->Logging()); // started at open
    Port.SendString("AB");
    Port.SetLogging(tlAppendAndContinue); // written, and logging goes on
    EXPECT_EQ(Port.Logging(), tlOn);
    Port.SetLogging(tlPause);
    EXPECT_FALSE(dispatcher->Logging());
    Port.SetLogSize(20000000); // capped; a paused log ends up off
    EXPECT_EQ(Port.LogSize(), 16000000u);
    EXPECT_EQ(Port.Logging(), tlOff);
    Port.SetLogging(tlClear); // not running: nothing happens
    EXPECT_EQ(Port.Logging(), tlOff);
    Port.SetOpen(false);

    std::ifstream file(Port.LogName(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    EXPECT_EQ(text.rfind("ComPort v5.00\r\n", 0), 0u);
    EXPECT_NE(text.find("Dispatch  WriteCom      00000002  AB\r\n"), std::string::npos);
}

TEST_F(ComPortTest, ClosingFromInsideTheHandlerIsFinishedLater) {
    int closes = 0;
    bool openDuring = false;
    bool reopenIgnored = false;
    Port.SetOnPortClose([&](TComponent*) { ++closes; });
    Port.SetOnTriggerAvail([&](TComponent*, std::uint16_t) {
        Port.SetOpen(false);
        openDuring = Port.Open();
        EXPECT_EQ(Port.ReadChar(), '\0'); // closing: nothing is taken
        Port.SetOpen(true);
        reopenIgnored = Port.PortState() == psClosing;
    });
    Port.SetOpen(true);
    Pty.WriteToDevice(BytesOf("x"));
    ASSERT_TRUE(PumpUntil([&] { return closes == 1; }, std::chrono::milliseconds(15000)));
    EXPECT_TRUE(openDuring);
    EXPECT_TRUE(reopenIgnored);
    ASSERT_TRUE(PumpUntil([&] { return !Port.Open(); }, std::chrono::milliseconds(15000)));
    EXPECT_EQ(Port.PortState(), psClosed);
    EXPECT_EQ(Port.NotifyWnd(), 0u);
}

// A handler that closes the port and then serves messages for a while (as a message box does):
// the close waits for it without keeping the window thread busy, and ends when it returns.
TEST_F(ComPortTest, ACloseInsideAHandlerWaitsWithoutSpinningTheWindowThread) {
    int served = -1;
    Port.SetOnTriggerAvail([&](TComponent*, std::uint16_t) {
        if (served >= 0)
            return;
        Port.SetOpen(false);
        served = 0;
        const std::uint32_t start = platform::TickCount();
        while (platform::TickCount() - start < 1000) {
            if (platform::PumpOneMessage())
                ++served;
            else
                platform::WaitForMessage(50);
        }
    });
    Port.SetOpen(true);
    Pty.WriteToDevice(BytesOf("x"));
    ASSERT_TRUE(PumpUntil([&] { return !Port.Open(); }, std::chrono::milliseconds(15000)));
    EXPECT_LT(served, 20) << "the deferred close was posted again and again";
    EXPECT_EQ(Port.PortState(), psClosed);
    EXPECT_EQ(Port.NotifyWnd(), 0u);
}

TEST_F(ComPortTest, AHandlerExceptionIsReportedAndTheNextNotificationComes) {
    std::vector<std::string> reported;
    SetApplicationErrorReporter([&](const std::string& message) { reported.push_back(message); });
    int calls = 0;
    Port.SetOnTriggerAvail([&](TComponent*, std::uint16_t count) {
        ++calls;
        for (int i = 0; i < count; ++i)
            Port.ReadChar();
        if (calls == 1)
            Port.ReadChar(); // one more than announced: EBufferIsEmpty escapes the handler
    });
    Port.SetOpen(true);
    Pty.WriteToDevice(BytesOf("1"));
    ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
    Pty.WriteToDevice(BytesOf("2"));
    ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
    SetApplicationErrorReporter(nullptr);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0], "Buffer is empty");
}

TEST_F(ComPortTest, OpenMetWhileLoadingHappensWhenLoadingEnds) {
    TComPort port;
    port.BeginLoading();
    port.SetComNumber(Com);
    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.PortState(), psClosed);
    port.Loaded();
    EXPECT_EQ(port.PortState(), psOpen);

    std::vector<std::string> reported;
    SetApplicationErrorReporter([&](const std::string& message) { reported.push_back(message); });
    TComPort failing;
    failing.BeginLoading();
    failing.SetComNumber(12);
    failing.SetOpen(true);
    failing.Loaded(); // the failure is reported, not raised
    SetApplicationErrorReporter(nullptr);
    EXPECT_FALSE(failing.Open());
    ASSERT_EQ(reported.size(), 1u);
}

TEST_F(ComPortTest, AssignCopiesSettingsAndSnapshotsOpenTriggers) {
    Port.SetOpen(true);
    Port.RequireDispatcher()->AddDataTrigger("ZZ", false);
    TComPort copy;
    copy.Assign(Port);
    EXPECT_FALSE(copy.Open());
    EXPECT_EQ(copy.ComNumber(), Com);
    EXPECT_EQ(copy.Baud(), 2400);
    EXPECT_EQ(copy.Parity(), pEven);
    Port.SetOpen(false);
    copy.SetOpen(true);
    EXPECT_EQ(copy.RequireDispatcher()->DataTriggers.size(), 1u);
}

} // namespace
} // namespace mbus::serial

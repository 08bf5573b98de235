// The dispatcher's own operations on a fake device, without worker threads: the input ring, the
// output path, line settings, modem lines, line errors and flow control.
#include "fake_dispatcher.h"

#include "serial/dispatcher_registry.h"
#include "serial/tick_timer.h"

#include <gtest/gtest.h>

namespace mbus::serial {
namespace {

using testing::FakeDispatcher;

std::string Bytes(std::size_t count, char first = 0) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>(first + static_cast<char>(i));
    return bytes;
}

// Gives `d` its buffers with the input ring's write position at `head` and its read position at
// `tail`, and 500 bytes (1, 2, ...) waiting in the receive queue.
void PlaceInputRing(FakeDispatcher& d, std::int32_t head, std::int32_t tail) {
    d.PrepareBuffers();
    d.InHead = head;
    d.InTail = tail;
    d.Receive(Bytes(500, 1));
}

TEST(InputRing, WrapsInAtMostTwoCopiesAndNeverPastTheTail) {
    FakeDispatcher d;
    PlaceInputRing(d, 8000, 7800);

    EXPECT_TRUE(d.FillInputBuffer());
    // 192 bytes fill 8000..8191, the other 308 go to 0..307.
    EXPECT_EQ(d.InHead, 308);
    EXPECT_EQ(d.InputCount(), 200 + 500);
    EXPECT_EQ(d.InBuffer[8000], 1);
    EXPECT_EQ(d.InBuffer[8191], static_cast<std::uint8_t>(1 + 191));
    EXPECT_EQ(d.InBuffer[0], static_cast<std::uint8_t>(1 + 192));
    EXPECT_EQ(d.ReceiveQueue.Count(), 0u);
}

TEST(InputRing, FillStopsAtTheUnreadBytesAndKeepsTheRestQueued) {
    // With InHead 8000 and InTail 100 only 292 bytes are free: 192 at the end, 100 at the start.
    FakeDispatcher d;
    PlaceInputRing(d, 8000, 100);

    EXPECT_TRUE(d.FillInputBuffer());
    EXPECT_EQ(d.InHead, 100);
    EXPECT_TRUE(d.InputFull);
    EXPECT_EQ(d.InputCount(), 8192);
    EXPECT_EQ(d.ReceivePending(), 208);

    // A full buffer takes nothing and reports work done.
    EXPECT_TRUE(d.FillInputBuffer());
    EXPECT_EQ(d.ReceivePending(), 208);
}

TEST(InputRing, PeekAndTake) {
    FakeDispatcher d;
    d.PrepareBuffers();
    std::uint8_t byte = 0;
    EXPECT_EQ(d.PeekByte(1, byte), ecBufferIsEmpty);
    EXPECT_EQ(d.TakeByte(byte), ecBufferIsEmpty);

    d.Receive("AB");
    d.FillInputBuffer();
    EXPECT_EQ(d.PeekByte(3, byte), ecBufferIsEmpty);
    EXPECT_EQ(d.PeekByte(2, byte), ecOK);
    EXPECT_EQ(byte, 'B');
    EXPECT_EQ(d.TakeByte(byte), ecOK);
    EXPECT_EQ(byte, 'A');
    EXPECT_EQ(d.InputCount(), 1);
}

TEST(InputRing, PeekModeTakesWithoutMovingTheTail) {
    FakeDispatcher d;
    d.PrepareBuffers();
    d.Receive("12345");
    d.FillInputBuffer();
    d.PeekMode = true;
    std::string taken;
    for (int i = 0; i < 3; ++i) {
        std::uint8_t byte;
        ASSERT_EQ(d.TakeByte(byte), ecOK);
        taken.push_back(static_cast<char>(byte));
    }
    EXPECT_EQ(taken, "123");
    EXPECT_EQ(d.InTail, 0);
    EXPECT_EQ(d.InputCount(), 2);
    // Past the unread bytes a peek-mode take fails and leaves Consumed as it was.
    std::uint8_t byte;
    EXPECT_EQ(d.TakeByte(byte), ecOK);
    EXPECT_EQ(d.TakeByte(byte), ecOK);
    EXPECT_EQ(d.TakeByte(byte), ecBufferIsEmpty);
    EXPECT_EQ(d.Consumed, 5);
}

TEST(InputRing, PurgeDropsUnreadBytes) {
    FakeDispatcher d;
    d.PrepareBuffers();
    d.Receive("abc");
    d.FillInputBuffer();
    d.Receive("def");
    d.PurgeInput();
    EXPECT_EQ(d.InputCount(), 0);
    EXPECT_EQ(d.ReceiveQueue.Count(), 0u);
}

TEST(OutputPath, QueueBlockIsAllOrNothing) {
    FakeDispatcher d;
    d.PrepareBuffers(16);
    const std::string first = Bytes(10, 'a');
    ASSERT_EQ(d.QueueBlock(reinterpret_cast<const std::uint8_t*>(first.data()), 10), ecOK);
    const std::string rest = Bytes(7, 'k');
    // One byte more than the free room is refused whole.
    EXPECT_EQ(d.QueueBlock(reinterpret_cast<const std::uint8_t*>(rest.data()), 7),
              ecOutputBufferTooSmall);
    EXPECT_EQ(d.OutputPending(), 10);
    // Exactly the free room fits and marks the ring full.
    EXPECT_EQ(d.QueueBlock(reinterpret_cast<const std::uint8_t*>(rest.data()), 6), ecOK);
    EXPECT_TRUE(d.OutFull);
    EXPECT_EQ(d.OutputPending(), 16);
    EXPECT_EQ(d.OutputRoom(), 0);
    EXPECT_EQ(d.OutputInUse(), 16);
    EXPECT_EQ(d.QueueBlock(reinterpret_cast<const std::uint8_t*>(rest.data()), 0), ecOK);
}

// RS-485 output on the older platform family needs the UART's base address: a block refused for
// the lack of it leaves the ring as it was, so later blocks still fit.
TEST(OutputPath, ARefusedRs485BlockLeavesTheRingAsItWas) {
    FakeDispatcher d;
    d.PrepareBuffers(16);
    d.NtFamily = false;
    d.SetRS485(true);
    const std::string block = Bytes(16, 'r');
    EXPECT_EQ(d.QueueBlock(reinterpret_cast<const std::uint8_t*>(block.data()), 16),
              ecBaseAddressNotSet);
    EXPECT_FALSE(d.OutFull);
    EXPECT_EQ(d.OutputPending(), 0);
    d.SetRS485(false);
    EXPECT_EQ(d.QueueBlock(reinterpret_cast<const std::uint8_t*>(block.data()), 4), ecOK);
    EXPECT_EQ(d.OutputPending(), 4);
}

TEST(OutputPath, ReleasedBuffersRefuseOutputInsteadOfWritingFreedMemory) {
    FakeDispatcher d;
    d.PrepareBuffers(16);
    d.ReleaseBuffers();
    const std::uint8_t byte = 1;
    EXPECT_EQ(d.QueueBlock(&byte, 1), ecPutBlockFail);
    std::uint8_t out;
    EXPECT_EQ(d.TakeByte(out), ecBufferIsEmpty);
    EXPECT_FALSE(d.FillInputBuffer());
}

TEST(LineSettings, UnchangedSettingsDoNotTouchTheDevice) {
    FakeDispatcher d;
    d.PrepareBuffers();
    d.Device.Flags = platform::DCB_BINARY | platform::DCB_TX_CONTINUE_ON_XOFF;
    d.Device.BaudRate = 2400;
    d.Device.Parity = platform::EVENPARITY;
    EXPECT_EQ(d.ConfigureLine(2400, 2, 8, 1), ecOK);
    EXPECT_EQ(d.ApplyCount, 0);
    // The keep-current codes change nothing either.
    EXPECT_EQ(d.ConfigureLine(kKeepBaud, kKeepParity, kKeepDataBits, kKeepStopBits), ecOK);
    EXPECT_EQ(d.ApplyCount, 0);

    EXPECT_EQ(d.ConfigureLine(57600, kKeepParity, kKeepDataBits, kKeepStopBits), ecOK);
    EXPECT_EQ(d.ApplyCount, 1);
    EXPECT_EQ(d.Device.BaudRate, 57600u);
    EXPECT_EQ(d.Device.Parity, platform::EVENPARITY);
    EXPECT_EQ(d.AppliedBaud, 57600u);
}

TEST(LineSettings, StopBitsFollowTheWordSize) {
    FakeDispatcher d;
    d.PrepareBuffers();
    d.ConfigureLine(9600, 0, 5, 2);
    EXPECT_EQ(d.Device.ByteSize, 5);
    EXPECT_EQ(d.Device.StopBits, platform::ONE5STOPBITS);
    d.ConfigureLine(9600, 0, 8, 2);
    EXPECT_EQ(d.Device.StopBits, platform::TWOSTOPBITS);
    d.ConfigureLine(9600, 0, 8, 7); // clamped to two
    EXPECT_EQ(d.Device.StopBits, platform::TWOSTOPBITS);
    d.ConfigureLine(9600, 0, 5, 1);
    EXPECT_EQ(d.Device.StopBits, platform::ONESTOPBIT);
}

TEST(LineSettings, ConfigureForcesBinaryModeAndDropsChecks) {
    FakeDispatcher d;
    d.PrepareBuffers();
    d.Device.Flags =
        platform::DCB_PARITY_CHECK | platform::DCB_DSR_SENSITIVITY | platform::DCB_NULL;
    d.ConfigureLine(9600, 2, 8, 1);
    EXPECT_EQ(d.Device.Flags & (platform::DCB_BINARY | platform::DCB_TX_CONTINUE_ON_XOFF),
              platform::DCB_BINARY | platform::DCB_TX_CONTINUE_ON_XOFF);
    EXPECT_EQ(d.Device.Flags &
                  (platform::DCB_PARITY_CHECK | platform::DCB_DSR_SENSITIVITY | platform::DCB_NULL),
              0u);
}

TEST(LineSettings, DrainWaitIsAboutEighteenCharacterTimes) {
    // 10,000,000 div 9600 = 1041; x 10 bits x 18 = 187,380 -> 19 ms.
    EXPECT_EQ(TBaseDispatcher::DrainWaitMs(9600, 8, platform::NOPARITY, platform::ONESTOPBIT), 19u);
    // Even parity and two stop bits: 12 bits a character; 4166 x 12 x 18 = 899,856 -> 90 ms.
    EXPECT_EQ(TBaseDispatcher::DrainWaitMs(2400, 8, platform::EVENPARITY, platform::TWOSTOPBITS),
              90u);
    // Short waits are doubled: 115200 8N1 gives 86 x 180 = 15,480 (not doubled) -> 2 ms;
    // 256000 gives 39 x 180 = 7,020, doubled to 14,040 -> 2 ms.
    EXPECT_EQ(TBaseDispatcher::DrainWaitMs(115200, 8, 0, 0), 2u);
    EXPECT_EQ(TBaseDispatcher::DrainWaitMs(0xFF27, 8, 0, 0), 2u);
    EXPECT_EQ(TBaseDispatcher::DrainWaitMs(0, 8, 0, 0), 0u);
}

TEST(LineSettings, ResolveBaudCodes) {
    EXPECT_EQ(ResolveBaud(0xFEFF), 115200u);
    EXPECT_EQ(ResolveBaud(0xFF10), 110u);
    EXPECT_EQ(ResolveBaud(0xFF16), 9600u);
    EXPECT_EQ(ResolveBaud(0xFF1B), 38400u);
    EXPECT_EQ(ResolveBaud(0xFF27), 256000u);
    EXPECT_EQ(ResolveBaud(0xFF19), 0xFF19u); // a code without a rate of its own
    EXPECT_EQ(ResolveBaud(0xFF28), 0xFF28u);
    EXPECT_EQ(ResolveBaud(2400), 2400u);
}

TEST(ModemLines, FlowControlOwnsTheLine) {
    FakeDispatcher d;
    d.PrepareBuffers();
    d.ReceiveSize = 4096;
    EXPECT_EQ(d.SetHardwareFlow(3686, 406, kHwFlowUseRTS), ecOK);
    EXPECT_EQ(d.Device.Flags & platform::DCB_RTS_CONTROL_MASK, platform::DCB_RTS_CONTROL_HANDSHAKE);
    EXPECT_EQ(d.Device.XoffLim, 410);
    EXPECT_EQ(d.Device.XonLim, 406);
    EXPECT_TRUE(d.RtsByFlow);
    EXPECT_EQ(d.SetHardwareFlow(100, 200, 0), ecBadArgument);
    EXPECT_EQ(d.SetHardwareFlow(5000, 200, 0), ecBadArgument);

    EXPECT_EQ(d.SetHardwareFlow(3686, 406, kHwFlowUseDTR), ecOK);
    d.LineFunctions.clear();
    EXPECT_EQ(d.DriveDTR(false), 1);
    EXPECT_TRUE(d.LineFunctions.empty());
    EXPECT_EQ(d.DriveRTS(true), 0);
    EXPECT_EQ(d.LineFunctions, std::vector<std::uint32_t>{platform::SETRTS});
    d.LineFunctionResult = -1;
    EXPECT_EQ(d.DriveRTS(false), ecBadArgument);
}

TEST(ModemLines, SoftwareFlowResetsTheFlowCharacters) {
    FakeDispatcher d;
    d.PrepareBuffers();
    d.ReceiveSize = 4096;
    d.SetFlowChars('a', 'b');
    EXPECT_EQ(d.SetSoftwareFlow(3072, 1024, kSwFlowReceive | kSwFlowTransmit), ecOK);
    EXPECT_EQ(d.Device.Flags & (platform::DCB_INX | platform::DCB_OUTX),
              platform::DCB_INX | platform::DCB_OUTX);
    EXPECT_EQ(d.Device.XonChar, 17);
    EXPECT_EQ(d.Device.XoffChar, 19);
    EXPECT_EQ(d.Device.XoffLim, 1024);
    EXPECT_EQ(d.ClearSoftwareFlow(), ecOK);
    EXPECT_EQ(d.Device.Flags & (platform::DCB_INX | platform::DCB_OUTX), 0u);
    const auto flow = d.QueryFlow();
    EXPECT_EQ(flow.SoftwareOptions, 0u);
}

TEST(ModemLines, ChangeFlagsAreReportedOnceAndRingIsFolded) {
    FakeDispatcher d;
    d.PrepareBuffers();
    d.ModemStatus = platform::MS_CTS_ON;
    d.RefreshModemDeltas(); // CTS came on
    EXPECT_EQ(d.ModemBits & 0xFF, 0x10u | 0x01u);
    EXPECT_EQ(d.CurrentModemStatus(), 0x11);
    EXPECT_EQ(d.CurrentModemStatus(), 0x10);
    d.RingSeen = true;
    EXPECT_EQ(d.CurrentModemStatus(), 0x14);
    EXPECT_FALSE(d.RingSeen);
}

TEST(LineErrors, TakenByPriority) {
    FakeDispatcher d;
    d.PrepareBuffers();
    d.PendingLineErrors = kLineErrorParity | kLineErrorFraming | kLineErrorBreak;
    d.RefreshLineErrors();
    EXPECT_EQ(d.TakeLineError(), 3);
    // Taking a code clears the low four bits; the break bit stays for the break flag.
    EXPECT_EQ(d.TakeLineError(), 9);
    EXPECT_TRUE(d.TakeBreakFlag());
    EXPECT_FALSE(d.TakeBreakFlag());
    EXPECT_EQ(d.TakeLineError(), 0);

    d.LineErrorBits = kLineErrorsThreadFailed;
    EXPECT_FALSE(d.TakeBreakFlag());
    EXPECT_EQ(d.TakeLineError(), 10);
    EXPECT_EQ(d.LineErrorBits, 0);
}

TEST(Registry, HandlesAreReusedAndTrailingEntriesDropped) {
    const std::size_t before = RegistrySize();
    auto a = std::make_unique<FakeDispatcher>();
    auto b = std::make_unique<FakeDispatcher>();
    EXPECT_EQ(FindDispatcher(a->RegistryHandle()), a.get());
    const std::int32_t aHandle = a->RegistryHandle();
    a.reset();
    EXPECT_EQ(FindDispatcher(aHandle), nullptr);
    auto c = std::make_unique<FakeDispatcher>();
    EXPECT_EQ(c->RegistryHandle(), aHandle);
    c.reset();
    b.reset();
    EXPECT_EQ(RegistrySize(), before);
    EXPECT_EQ(FindDispatcher(-1), nullptr);
}

TEST(TickTimer, ExpiresAfterItsTicksAcrossTheClockWrap) {
    TickTimer timer;
    ArmTickTimerAt(timer, 10, 100);
    EXPECT_FALSE(TickTimerDoneAt(timer, 105));
    EXPECT_FALSE(TickTimerDoneAt(timer, 110));
    EXPECT_TRUE(TickTimerDoneAt(timer, 111));

    ArmTickTimerAt(timer, 50, 0xFFFFFFF0u); // expiry wraps to 34
    EXPECT_TRUE(TickTimerDoneAt(timer, 40));
    ArmTickTimerAt(timer, kMaxTimerTicks + 100, 5);
    EXPECT_EQ(timer.ExpireTicks, 5 + kMaxTimerTicks);
}

TEST(MatchStep, OverlappingPartialMatches) {
    const auto feed = [](const std::string& pattern, const std::string& input) {
        std::array<std::int32_t, kMaxDataTriggerLength> counters{};
        std::array<std::uint8_t, 24> bytes{};
        std::copy(pattern.begin(), pattern.end(), bytes.begin());
        std::string completions;
        for (char c : input)
            completions += MatchStep(counters, static_cast<std::uint8_t>(c),
                                     static_cast<std::int32_t>(pattern.size()), false, bytes)
                               ? '1'
                               : '0';
        return completions;
    };
    EXPECT_EQ(feed("XYZ", "XXYXYZ"), "000001");
    EXPECT_EQ(feed("AAB", "AAAB"), "0001");
    EXPECT_EQ(feed("ABAC", "ABABAC"), "000001");
    EXPECT_EQ(feed("A", "BAA"), "011");
    EXPECT_EQ(feed("XYZ", "XYXZ"), "0000");
}

TEST(MatchStep, IgnoreCaseUppercasesTheReceivedByte) {
    std::array<std::int32_t, kMaxDataTriggerLength> counters{};
    std::array<std::uint8_t, 24> pattern{'O', 'K'};
    EXPECT_FALSE(MatchStep(counters, 'o', 2, true, pattern));
    EXPECT_TRUE(MatchStep(counters, 'k', 2, true, pattern));
    EXPECT_FALSE(MatchStep(counters, 'o', 2, false, pattern));
}

} // namespace
} // namespace mbus::serial

// The comm device on real pseudo-terminal pairs: opening (existing only, exclusive across
// processes), raw transfers, the device control block, comm events, overlapped reads and writes,
// purging, errors and status, escape functions, closing with operations pending (and, on Linux,
// the settings found at open restored), hang-ups and the default configuration probe, also by
// COM name through the port map. On Windows the line is a COM port pair (support/pty_pair.h),
// and what Wine cannot show is skipped with the reason.
#include "platform/comm_device.h"
#include "platform/system_error.h"
#include "support/pty_pair.h"
#include "support/test_platform.h"
#include "support/wait_until.h"
#ifndef _WIN32
#include "platform/port_map.h"
#include "support/child_process.h"
#include "support/temp_config_home.h"
#endif

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#ifndef _WIN32
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace mbus::platform {
namespace {

using testing::PtyPair;
using testing::WaitFor;
using Bytes = std::vector<std::uint8_t>;

// An overlapped record with its own manual-reset event.
struct Operation {
    Event Done{true};
    Overlapped Record;
    Operation() { Record.hEvent = &Done; }
    bool Wait(std::uint32_t ms = 5000) { return WaitOne(Done, ms) == WAIT_OBJECT_0; }
    // GetOverlappedResult without waiting: true/false and the last error.
    std::pair<bool, std::uint32_t> Result(std::uint32_t* transferred = nullptr) {
        std::uint32_t count = 0;
        const bool ok = GetOverlappedResult(0, &Record, transferred ? transferred : &count, false);
        return {ok, ok ? 0u : LastError()};
    }
};

#ifndef _WIN32
// The comm open probe (comm_open_probe.cpp) in a process of its own: the error number of its
// open, or -1 when it printed none in time.
long ProbeOpen(testing::ChildProcess& probe) {
    const auto line = probe.ReadLine(std::chrono::seconds(10));
    return line && !line->empty() ? std::stol(*line) : -1;
}

std::vector<std::string> ProbeCommand(const std::string& device, bool hold) {
    std::vector<std::string> argv{testing::ProgramFromEnvironment("MBUS_COMM_OPEN_PROBE"), device};
    if (hold)
        argv.push_back("--hold");
    return argv;
}
#endif

class CommDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        Handle = CreateFile(Pty.SlavePath());
        ASSERT_NE(Handle, INVALID_HANDLE_VALUE) << LastError();
        COMMTIMEOUTS atOnce;
        atOnce.ReadIntervalTimeout = MAXDWORD;
        ASSERT_TRUE(SetCommTimeouts(Handle, &atOnce));
    }
    void TearDown() override {
        if (Handle != INVALID_HANDLE_VALUE)
            CloseHandle(Handle);
    }

    // Everything the device reads until `count` bytes came, with immediate reads.
    Bytes ReadAll(std::size_t count) {
        Bytes got;
        Operation read;
        WaitFor([&] {
            std::uint8_t chunk[256];
            std::uint32_t n = 0;
            if (ReadFile(Handle, chunk, sizeof chunk, &n, &read.Record))
                got.insert(got.end(), chunk, chunk + n);
            return got.size() >= count;
        });
        return got;
    }

    void FillTheLine(Bytes& block, Operation& write) {
        // Nobody reads the master side: the pseudo-terminal's buffers fill and the write waits.
        block.assign(1 << 20, 0x55);
        std::uint32_t written = 0;
        ASSERT_FALSE(WriteFile(Handle, block.data(), static_cast<std::uint32_t>(block.size()),
                               &written, &write.Record));
        ASSERT_EQ(LastError(), ERROR_IO_PENDING);
    }

    PtyPair Pty;
    CommHandle Handle = INVALID_HANDLE_VALUE;
};

TEST(CommOpenTest, MissingDevicesAndOtherFilesDoNotOpen) {
#ifdef _WIN32
    const char* missing = "\\\\.\\COM250";
    const char* underAFile = "C:\\windows\\win.ini\\tty";
    const char* notSerial = "NUL";
#else
    const char* missing = "/dev/no-such-tty-here";
    const char* underAFile = "/etc/hostname/tty";
    const char* notSerial = "/dev/null";
#endif
    EXPECT_EQ(CreateFile(missing), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(CreateFile(underAFile), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(CreateFile(notSerial), INVALID_HANDLE_VALUE); // a device, but no serial one
    EXPECT_EQ(LastError(), ERROR_FILE_NOT_FOUND);
}

TEST(CommOpenTest, AnOpenDeviceIsExclusiveAcrossOpensAndProcesses) {
    if (testing::RunsUnderWine())
        GTEST_SKIP() << "Wine does not refuse a second open of a COM port";
    PtyPair pty;
    const CommHandle first = CreateFile(pty.SlavePath());
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_GT(first, 0);
    EXPECT_EQ(CreateFile(pty.SlavePath()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), ERROR_ACCESS_DENIED);
#ifdef _WIN32
    CloseHandle(first); // the open probe of the other process is a Linux program
#else
    {
        testing::ChildProcess other(ProbeCommand(pty.SlavePath(), false));
        EXPECT_EQ(ProbeOpen(other), ERROR_ACCESS_DENIED); // root too: the lock keeps it out
    }
    ASSERT_TRUE(CloseHandle(first));
    EXPECT_FALSE(CloseHandle(first));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);

    testing::ChildProcess holder(ProbeCommand(pty.SlavePath(), true));
    ASSERT_EQ(ProbeOpen(holder), 0);
    EXPECT_EQ(CreateFile(pty.SlavePath()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), ERROR_ACCESS_DENIED);
    holder.CloseInput();
    ASSERT_EQ(holder.Wait(std::chrono::seconds(10)), 0);
    const CommHandle again = CreateFile(pty.SlavePath());
    ASSERT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_NE(again, first); // handles are not given out twice
    CloseHandle(again);
#endif
}

#ifndef _WIN32
TEST(CommOpenTest, ClosingRestoresTheSettingsFoundAtOpen) {
    // A terminal opened by mistake (or by a read that has ended) is not left raw: the line
    // discipline, echo and rate the device had come back at close.
    PtyPair pty;
    const int slave = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    termios found{};
    ASSERT_EQ(::tcgetattr(slave, &found), 0);
    found.c_lflag |= ICANON | ECHO | ISIG;
    found.c_iflag |= ICRNL | IXON;
    found.c_oflag |= OPOST | ONLCR;
    ::cfsetspeed(&found, B9600);
    ASSERT_EQ(::tcsetattr(slave, TCSANOW, &found), 0);

    const CommHandle handle = CreateFile(pty.SlavePath());
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << LastError();
    DCB dcb;
    ASSERT_TRUE(GetCommState(handle, &dcb));
    dcb.BaudRate = 2400;
    ASSERT_TRUE(SetCommState(handle, &dcb));
    termios open{};
    ASSERT_EQ(::tcgetattr(slave, &open), 0);
    EXPECT_EQ(open.c_lflag & (ICANON | ECHO | ISIG), 0u); // raw while open
    ASSERT_TRUE(CloseHandle(handle));

    termios after{};
    ASSERT_EQ(::tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, found.c_lflag);
    EXPECT_EQ(after.c_iflag, found.c_iflag);
    EXPECT_EQ(after.c_oflag, found.c_oflag);
    EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B9600));
    ::close(slave);
}
#endif

TEST(CommOpenTest, OperationsOnAnUnknownHandleFail) {
    DCB dcb;
    std::uint32_t value = 0;
    Operation op;
    SetLastError(0);
    EXPECT_FALSE(GetCommState(12345678, &dcb));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetCommMask(12345678, EV_RXCHAR));
    EXPECT_FALSE(ReadFile(12345678, &value, 1, &value, &op.Record));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(PurgeComm(INVALID_HANDLE_VALUE, PURGE_RXCLEAR));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
}

TEST_F(CommDeviceTest, BytesPassUnchangedBothWays) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<std::uint8_t>(i); // line ends, XON/XOFF, interrupt keys, 0x00, 0xFF
    Pty.WriteToDevice(all);
    EXPECT_EQ(ReadAll(all.size()), all);

    Operation write;
    std::uint32_t written = 0;
    ASSERT_TRUE(WriteFile(Handle, all.data(), 256, &written, &write.Record));
    EXPECT_EQ(written, 256u);
    EXPECT_TRUE(write.Wait(0)); // a transfer done at once also completes its record
    EXPECT_EQ(Pty.ReadFromDevice(256, std::chrono::seconds(5)), all);
}

TEST_F(CommDeviceTest, ImmediateReadReturnsAtOnceWithNothing) {
    Operation read;
    std::uint8_t byte = 0;
    std::uint32_t n = 99;
    ASSERT_TRUE(ReadFile(Handle, &byte, 1, &n, &read.Record));
    EXPECT_EQ(n, 0u);
    std::uint32_t transferred = 99;
    EXPECT_TRUE(GetOverlappedResult(Handle, &read.Record, &transferred, true));
    EXPECT_EQ(transferred, 0u);
    ASSERT_TRUE(ReadFile(Handle, nullptr, 0, &n, &read.Record));
}

TEST_F(CommDeviceTest, CommStateReadsBackWhatWasSet) {
    if (testing::RunsUnderWine())
        GTEST_SKIP() << "Wine keeps only what termios holds: flags, XON/XOFF limits and other "
                        "rates read back changed";
    DCB dcb;
    ASSERT_TRUE(GetCommState(Handle, &dcb));
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_NE(dcb.Flags & DCB_BINARY, 0u);
    EXPECT_EQ(dcb.Flags & (DCB_OUTX | DCB_INX | DCB_OUTX_CTS_FLOW), 0u); // opened without flow

    dcb.BaudRate = 2400;
    dcb.StopBits = TWOSTOPBITS;
    dcb.Flags = DCB_BINARY | DCB_OUTX_CTS_FLOW | DCB_RTS_CONTROL_HANDSHAKE |
                DCB_DTR_CONTROL_HANDSHAKE | DCB_DSR_SENSITIVITY | DCB_OUTX | DCB_INX |
                DCB_TX_CONTINUE_ON_XOFF | DCB_NULL;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 406;
    dcb.XoffLim = 410;
    ASSERT_TRUE(SetCommState(Handle, &dcb));
    DCB back;
    ASSERT_TRUE(GetCommState(Handle, &back));
    EXPECT_EQ(back.BaudRate, 2400u);
    EXPECT_EQ(back.ByteSize, 8);
    EXPECT_EQ(back.Parity, NOPARITY);
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);
    EXPECT_EQ(back.Flags, dcb.Flags);
    EXPECT_EQ(back.XonLim, 406);
    EXPECT_EQ(back.XoffLim, 410);
    EXPECT_EQ(back.XonChar, 0x11);
    EXPECT_EQ(back.XoffChar, 0x13);

    // Any rate goes through; a pseudo-terminal forces 8 data bits without parity.
    dcb.BaudRate = 12345;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.Flags = DCB_BINARY;
    ASSERT_TRUE(SetCommState(Handle, &dcb));
    ASSERT_TRUE(GetCommState(Handle, &back));
    EXPECT_EQ(back.BaudRate, 12345u);
    EXPECT_EQ(back.ByteSize, 8);
    EXPECT_EQ(back.Parity, NOPARITY);
    EXPECT_EQ(back.StopBits, ONESTOPBIT);
}

TEST_F(CommDeviceTest, InvalidCommStateIsRefusedAndChangesNothing) {
    if (testing::RunsUnderWine())
        GTEST_SKIP() << "Wine takes device control blocks that Windows refuses";
    DCB good;
    ASSERT_TRUE(GetCommState(Handle, &good));
    DCB bad = good;
    bad.ByteSize = 9;
    EXPECT_FALSE(SetCommState(Handle, &bad));
    EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER);
    bad = good;
    bad.StopBits = ONE5STOPBITS; // 1.5 with 8 data bits
    EXPECT_FALSE(SetCommState(Handle, &bad));
    EXPECT_FALSE(SetCommState(Handle, nullptr));
    EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER);
    DCB back;
    ASSERT_TRUE(GetCommState(Handle, &back));
    EXPECT_EQ(back.StopBits, good.StopBits);
}

TEST_F(CommDeviceTest, QueueSizesAndTimeoutsAreAccepted) {
    EXPECT_TRUE(SetupComm(Handle, 4096, 2048));
    COMMTIMEOUTS set{10, 20, 30, 40, 50};
    ASSERT_TRUE(SetCommTimeouts(Handle, &set));
    COMMTIMEOUTS got;
    ASSERT_TRUE(GetCommTimeouts(Handle, &got));
    EXPECT_EQ(got.ReadIntervalTimeout, 10u);
    EXPECT_EQ(got.WriteTotalTimeoutConstant, 50u);
}

TEST_F(CommDeviceTest, EventMaskRefusesUnsupportedBits) {
    if (testing::RunsUnderWine())
        GTEST_SKIP() << "Wine waits on an empty event mask instead of refusing the wait";
    EXPECT_FALSE(SetCommMask(Handle, 0x21F9)); // the ring trailing edge of the older family
    EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER);
    std::uint32_t mask = 99;
    ASSERT_TRUE(GetCommMask(Handle, &mask));
    EXPECT_EQ(mask, 0u);
    Operation wait;
    std::uint32_t events = 0;
    EXPECT_FALSE(WaitCommEvent(Handle, &events, &wait.Record)); // nothing to wait for
    EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(SetCommMask(Handle, 0x01F9));
    ASSERT_TRUE(GetCommMask(Handle, &mask));
    EXPECT_EQ(mask, 0x01F9u);
}

TEST_F(CommDeviceTest, ReceivedBytesCompleteAnEventWait) {
    ASSERT_TRUE(SetCommMask(Handle, 0x01F9));
    Operation wait;
    std::uint32_t events = 0;
    ASSERT_FALSE(WaitCommEvent(Handle, &events, &wait.Record));
    ASSERT_EQ(LastError(), ERROR_IO_PENDING);
    EXPECT_EQ(wait.Result(), std::make_pair(false, ERROR_IO_INCOMPLETE));
    Operation second;
    std::uint32_t secondEvents = 0;
    EXPECT_FALSE(WaitCommEvent(Handle, &secondEvents, &second.Record)); // one wait at a time
    EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER);

    Pty.WriteToDevice({1, 2, 3});
    ASSERT_TRUE(wait.Wait());
    std::uint32_t transferred = 0;
    EXPECT_TRUE(GetOverlappedResult(Handle, &wait.Record, &transferred, true));
    EXPECT_EQ(events, EV_RXCHAR);
}

TEST_F(CommDeviceTest, UnreadBytesAreReportedOnceUntilTheNextRead) {
    if (testing::RunsUnderWine())
        GTEST_SKIP() << "Wine reports EV_RXCHAR again while unread bytes wait";
    ASSERT_TRUE(SetCommMask(Handle, EV_RXCHAR));
    Operation wait;
    std::uint32_t events = 0;
    Pty.WriteToDevice({1, 2, 3});
    if (!WaitCommEvent(Handle, &events, &wait.Record)) {
        ASSERT_TRUE(wait.Wait());
    }
    EXPECT_EQ(events, EV_RXCHAR);

    // The bytes are still there, unread: no new report (no spinning on them).
    events = 0;
    ASSERT_FALSE(WaitCommEvent(Handle, &events, &wait.Record));
    EXPECT_FALSE(wait.Wait(100));

    // A read that leaves bytes behind re-arms the report.
    Operation read;
    std::uint8_t byte = 0;
    std::uint32_t n = 0;
    ASSERT_TRUE(ReadFile(Handle, &byte, 1, &n, &read.Record));
    ASSERT_EQ(n, 1u);
    ASSERT_TRUE(wait.Wait());
    EXPECT_EQ(events, EV_RXCHAR);

    // After everything is read only new bytes are reported.
    EXPECT_EQ(ReadAll(2), (Bytes{2, 3}));
    ASSERT_FALSE(WaitCommEvent(Handle, &events, &wait.Record));
    EXPECT_FALSE(wait.Wait(50));
    Pty.WriteToDevice({4});
    ASSERT_TRUE(wait.Wait());
    EXPECT_EQ(events, EV_RXCHAR);
}

TEST_F(CommDeviceTest, SettingTheMaskCompletesAPendingWait) {
    if (testing::RunsUnderWine())
        GTEST_SKIP() << "Wine leaves a pending event wait alone when the mask is set";
    ASSERT_TRUE(SetCommMask(Handle, EV_RXCHAR | EV_CTS));
    Operation wait;
    std::uint32_t events = 99;
    ASSERT_FALSE(WaitCommEvent(Handle, &events, &wait.Record));
    ASSERT_TRUE(SetCommMask(Handle, 0));
    ASSERT_TRUE(wait.Wait());
    EXPECT_EQ(wait.Result().first, true);
    EXPECT_EQ(events, 0u);
}

TEST_F(CommDeviceTest, PendingWriteCompletesWhenTheLineDrains) {
    if (testing::RunsUnderWine())
        GTEST_SKIP() << "Wine reports no output queue on a pseudo-terminal and does not queue a "
                        "write behind a pending one";
    Bytes block;
    Operation write;
    ASSERT_NO_FATAL_FAILURE(FillTheLine(block, write));
    EXPECT_EQ(write.Result(), std::make_pair(false, ERROR_IO_INCOMPLETE));
    COMSTAT status;
    std::uint32_t errors = 99;
    ASSERT_TRUE(ClearCommError(Handle, &errors, &status));
    EXPECT_EQ(errors, 0u);
    EXPECT_GT(status.cbOutQue, 0u);

    // A second write queues behind the first.
    Operation tail;
    const Bytes end{0xAA, 0xBB};
    std::uint32_t written = 0;
    ASSERT_FALSE(WriteFile(Handle, end.data(), 2, &written, &tail.Record));
    EXPECT_EQ(LastError(), ERROR_IO_PENDING);

    Bytes got = Pty.ReadFromDevice(block.size() + 2, std::chrono::seconds(20));
    ASSERT_EQ(got.size(), block.size() + 2);
    EXPECT_EQ(got[block.size()], 0xAA);
    EXPECT_EQ(got[block.size() + 1], 0xBB);
    ASSERT_TRUE(write.Wait());
    std::uint32_t transferred = 0;
    EXPECT_TRUE(GetOverlappedResult(Handle, &write.Record, &transferred, true));
    EXPECT_EQ(transferred, block.size());
    EXPECT_TRUE(GetOverlappedResult(Handle, &tail.Record, &transferred, true));
    EXPECT_EQ(transferred, 2u);
}

TEST_F(CommDeviceTest, PurgeAbortsPendingTransfersAndClearsQueues) {
    if (testing::RunsUnderWine())
        GTEST_SKIP() << "Wine's purge does not abort a pending write";
    Bytes block;
    Operation write;
    ASSERT_NO_FATAL_FAILURE(FillTheLine(block, write));

    COMMTIMEOUTS waitForBytes{}; // all zero: a read with nothing to read goes pending
    ASSERT_TRUE(SetCommTimeouts(Handle, &waitForBytes));
    Operation read;
    std::uint8_t buffer[16];
    std::uint32_t n = 0;
    ASSERT_FALSE(ReadFile(Handle, buffer, sizeof buffer, &n, &read.Record));
    ASSERT_EQ(LastError(), ERROR_IO_PENDING);

    ASSERT_TRUE(PurgeComm(Handle, PURGE_TXABORT | PURGE_TXCLEAR));
    ASSERT_TRUE(write.Wait());
    std::uint32_t transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(Handle, &write.Record, &transferred, true));
    EXPECT_EQ(LastError(), ERROR_OPERATION_ABORTED);
    EXPECT_LT(transferred, block.size());
    EXPECT_EQ(read.Result(), std::make_pair(false, ERROR_IO_INCOMPLETE)); // not aborted

    ASSERT_TRUE(PurgeComm(Handle, PURGE_RXABORT));
    ASSERT_TRUE(read.Wait());
    EXPECT_EQ(read.Result(), std::make_pair(false, ERROR_OPERATION_ABORTED));

    // Received bytes are counted and cleared.
    Pty.WriteToDevice({1, 2, 3, 4, 5});
    COMSTAT status;
    EXPECT_TRUE(
        WaitFor([&] { return ClearCommError(Handle, nullptr, &status) && status.cbInQue == 5; }));
    ASSERT_TRUE(PurgeComm(Handle, PURGE_RXCLEAR));
    ASSERT_TRUE(ClearCommError(Handle, nullptr, &status));
    EXPECT_EQ(status.cbInQue, 0u);
    EXPECT_FALSE(PurgeComm(Handle, 0x10));
    EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(CommDeviceTest, CancelEndsOneOperationAndLeavesTheOthers) {
    Bytes block;
    Operation write;
    ASSERT_NO_FATAL_FAILURE(FillTheLine(block, write));
    ASSERT_TRUE(SetCommMask(Handle, EV_RXCHAR));
    Operation wait;
    std::uint32_t events = 0;
    ASSERT_FALSE(WaitCommEvent(Handle, &events, &wait.Record));
    ASSERT_EQ(LastError(), ERROR_IO_PENDING);

    // Cancelled operations are complete when the call returns: their records may go at once.
    ASSERT_TRUE(CancelIoEx(Handle, &write.Record)) << LastError();
    EXPECT_TRUE(write.Wait(0));
    EXPECT_EQ(write.Result(), std::make_pair(false, ERROR_OPERATION_ABORTED));
    EXPECT_EQ(wait.Result(), std::make_pair(false, ERROR_IO_INCOMPLETE));
    ASSERT_TRUE(CancelIoEx(Handle, &wait.Record)) << LastError() << " " << wait.Result().second;
    EXPECT_EQ(wait.Result(), std::make_pair(false, ERROR_OPERATION_ABORTED));

    EXPECT_FALSE(CancelIoEx(Handle, &write.Record));
    EXPECT_EQ(LastError(), ERROR_NOT_FOUND);
}

TEST_F(CommDeviceTest, PendingReadCompletesWithArrivingBytes) {
    COMMTIMEOUTS waitForBytes{}; // Linux: the first byte ends the wait; Windows: the third

    ASSERT_TRUE(SetCommTimeouts(Handle, &waitForBytes));
    Operation read;
    std::uint8_t buffer[3] = {};
    std::uint32_t n = 0;
    ASSERT_FALSE(ReadFile(Handle, buffer, sizeof buffer, &n, &read.Record));
    ASSERT_EQ(LastError(), ERROR_IO_PENDING);
    Pty.WriteToDevice({7, 8, 9});
    std::uint32_t transferred = 0;
    ASSERT_TRUE(GetOverlappedResult(Handle, &read.Record, &transferred, true));
    ASSERT_GE(transferred, 1u);
    EXPECT_EQ(buffer[0], 7);
}

TEST_F(CommDeviceTest, FirstByteReadWaitsForBytesAndReturnsWhatHasCome) {
    const COMMTIMEOUTS firstByte{MAXDWORD, MAXDWORD, MAXDWORD - 1, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(Handle, &firstByte));
    COMMTIMEOUTS got{};
    ASSERT_TRUE(GetCommTimeouts(Handle, &got));
    EXPECT_EQ(got.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(got.ReadTotalTimeoutMultiplier, MAXDWORD);
    EXPECT_EQ(got.ReadTotalTimeoutConstant, MAXDWORD - 1);

    // Nothing there: the read waits, and a few bytes end it although far more were asked for.
    Operation read;
    std::vector<std::uint8_t> buffer(8192);
    std::uint32_t n = 0;
    ASSERT_FALSE(ReadFile(Handle, buffer.data(), 8192, &n, &read.Record));
    ASSERT_EQ(LastError(), ERROR_IO_PENDING);
    Pty.WriteToDevice({1, 2, 3, 4, 5});
    if (!read.Wait()) {
        CancelIoEx(Handle, &read.Record); // the record goes with this test
        FAIL() << "the read waits for all 8192 bytes";
    }
    std::uint32_t transferred = 0;
    ASSERT_TRUE(GetOverlappedResult(Handle, &read.Record, &transferred, true));
    Bytes received(buffer.begin(), buffer.begin() + transferred);
    // The rest, if the first byte came on its own, is there for the next read at once.
    while (received.size() < 5) {
        Operation more;
        ASSERT_TRUE(ReadFile(Handle, buffer.data(), 8192, &n, &more.Record) ||
                    LastError() == ERROR_IO_PENDING);
        ASSERT_TRUE(more.Wait());
        ASSERT_TRUE(GetOverlappedResult(Handle, &more.Record, &transferred, true));
        received.insert(received.end(), buffer.begin(), buffer.begin() + transferred);
    }
    EXPECT_EQ(received, Bytes({1, 2, 3, 4, 5}));
}

TEST_F(CommDeviceTest, WaitForOperationEndsWithTheReadAnotherEventATimeOutOrAClose) {
    const COMMTIMEOUTS firstByte{MAXDWORD, MAXDWORD, MAXDWORD - 1, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(Handle, &firstByte));
    Event other(true);
    std::uint8_t buffer[64] = {};
    std::uint32_t n = 0;
    const auto startRead = [&](Operation& read) {
        ASSERT_FALSE(ReadFile(Handle, buffer, sizeof buffer, &n, &read.Record));
        ASSERT_EQ(LastError(), ERROR_IO_PENDING);
    };

    // Bytes that come while the thread waits complete the read.
    Operation read;
    ASSERT_NO_FATAL_FAILURE(startRead(read));
    std::thread peer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Pty.WriteToDevice({0x68, 0x10});
    });
    EXPECT_EQ(WaitForOperation(Handle, &read.Record, {&other}, 5000), WAIT_OBJECT_0);
    peer.join();
    std::uint32_t transferred = 0;
    ASSERT_TRUE(GetOverlappedResult(Handle, &read.Record, &transferred, false));
    ASSERT_GE(transferred, 1u);
    EXPECT_EQ(buffer[0], 0x68);
    if (transferred == 1) {
        Operation rest;
        ASSERT_TRUE(ReadFile(Handle, buffer, sizeof buffer, &n, &rest.Record));
    }

    // Another event ends the wait and leaves the read pending; it still completes when bytes come.
    Operation second;
    ASSERT_NO_FATAL_FAILURE(startRead(second));
    other.Set();
    EXPECT_EQ(WaitForOperation(Handle, &second.Record, {&other}, 5000), WAIT_OBJECT_0 + 1);
    other.Reset();
    EXPECT_EQ(second.Result(), std::make_pair(false, ERROR_IO_INCOMPLETE));
    Pty.WriteToDevice({0x16});
    ASSERT_TRUE(second.Wait());
    ASSERT_TRUE(GetOverlappedResult(Handle, &second.Record, &transferred, false));
    EXPECT_EQ(buffer[0], 0x16);

    // Nothing comes: the time-out ends the wait.
    Operation third;
    ASSERT_NO_FATAL_FAILURE(startRead(third));
    EXPECT_EQ(WaitForOperation(Handle, &third.Record, {&other}, 50), WAIT_TIMEOUT);

    // A close ends it with the read's failure.
    std::atomic<std::uint32_t> waited{WAIT_FAILED};
    std::thread waiter([&] { waited = WaitForOperation(Handle, &third.Record, {&other}, 5000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(CloseHandle(Handle));
    waiter.join();
    EXPECT_EQ(waited, WAIT_OBJECT_0);
    EXPECT_EQ(third.Result(), std::make_pair(false, ERROR_INVALID_HANDLE));
    Handle = INVALID_HANDLE_VALUE;
}

TEST_F(CommDeviceTest, EscapeFunctionsAndModemStatusOnALineWithoutModemLines) {
    for (std::uint32_t function :
         {SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK, SETXOFF, SETXON})
        EXPECT_TRUE(EscapeCommFunction(Handle, function)) << function;
    EXPECT_FALSE(EscapeCommFunction(Handle, 7));
    EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(EscapeCommFunction(Handle, 10)); // no UART base address to report here
    std::uint32_t status = 99;
    ASSERT_TRUE(GetCommModemStatus(Handle, &status));
    EXPECT_EQ(status, 0u);
    std::uint32_t errors = 99;
    ASSERT_TRUE(ClearCommError(Handle, &errors, nullptr));
    EXPECT_EQ(errors, 0u);
}

TEST_F(CommDeviceTest, CloseCompletesPendingOperationsWithInvalidHandle) {
    ASSERT_TRUE(SetCommMask(Handle, EV_RXCHAR));
    Operation wait;
    std::uint32_t events = 0;
    ASSERT_FALSE(WaitCommEvent(Handle, &events, &wait.Record));
    Bytes block;
    Operation write;
    ASSERT_NO_FATAL_FAILURE(FillTheLine(block, write));

    // A thread blocked in a waiting GetOverlappedResult is released too.
    std::atomic<std::uint32_t> waiterError{0};
    std::thread waiter([&] {
        std::uint32_t transferred = 0;
        if (!GetOverlappedResult(Handle, &wait.Record, &transferred, true))
            waiterError = LastError();
    });
    ASSERT_TRUE(CloseHandle(Handle));
    waiter.join();
    EXPECT_EQ(waiterError, ERROR_INVALID_HANDLE);
    EXPECT_EQ(write.Result(), std::make_pair(false, ERROR_INVALID_HANDLE));

    Operation read;
    std::uint8_t byte = 0;
    EXPECT_FALSE(ReadFile(Handle, &byte, 1, nullptr, &read.Record));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    Handle = INVALID_HANDLE_VALUE;
}

TEST_F(CommDeviceTest, HangUpFailsTransfersInsteadOfReadingNothingForEver) {
    if (testing::RunsUnderWine())
        GTEST_SKIP() << "a COM port pair has no hang-up to show";
    ASSERT_TRUE(SetCommMask(Handle, 0x01F9));
    Operation wait;
    std::uint32_t events = 0;
    ASSERT_FALSE(WaitCommEvent(Handle, &events, &wait.Record));
    Pty.CloseMaster();
    ASSERT_TRUE(wait.Wait());
    EXPECT_EQ(wait.Result(), std::make_pair(false, ERROR_DEVICE_NOT_CONNECTED));

    Operation read;
    std::uint8_t byte = 0;
    std::uint32_t n = 0;
    EXPECT_FALSE(ReadFile(Handle, &byte, 1, &n, &read.Record));
    EXPECT_EQ(LastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(WriteFile(Handle, &byte, 1, &n, &read.Record));
    EXPECT_EQ(LastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(WaitCommEvent(Handle, &events, &wait.Record));
    EXPECT_EQ(LastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(CloseHandle(Handle));
    Handle = INVALID_HANDLE_VALUE;
}

TEST_F(CommDeviceTest, HangUpIsNoticedByAReadWithNothingPending) {
    if (testing::RunsUnderWine())
        GTEST_SKIP() << "a COM port pair has no hang-up to show";
    Pty.CloseMaster();
    Operation read;
    std::uint8_t byte = 0;
    std::uint32_t n = 0;
    EXPECT_FALSE(ReadFile(Handle, &byte, 1, &n, &read.Record));
    EXPECT_EQ(LastError(), ERROR_DEVICE_NOT_CONNECTED);
}

TEST(CommConfigTest, DefaultConfigurationProbesWithoutOpening) {
    PtyPair pty;
    COMMCONFIG config;
    std::uint32_t size = sizeof config;
    ASSERT_TRUE(GetDefaultCommConfig(pty.SlavePath(), &config, &size));
    EXPECT_EQ(size, 52u);
    EXPECT_EQ(config.dwSize, 52u);
    EXPECT_EQ(config.dcb.BaudRate, 9600u);

    const CommHandle held = CreateFile(pty.SlavePath()); // a port in use is still present
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(GetDefaultCommConfig(pty.SlavePath(), &config, &size));
    CloseHandle(held);

    size = 20;
    EXPECT_FALSE(GetDefaultCommConfig(pty.SlavePath(), &config, &size));
    EXPECT_EQ(LastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 52u);
    EXPECT_FALSE(GetDefaultCommConfig("/dev/no-such-tty-here", &config, &size));
    EXPECT_EQ(LastError(), ERROR_FILE_NOT_FOUND);
#ifdef _WIN32
    EXPECT_FALSE(GetDefaultCommConfig("NUL", &config, &size)); // not a serial device
#else
    EXPECT_FALSE(GetDefaultCommConfig("/etc/hostname", &config, &size)); // not a device
#endif
}

TEST(CommConfigTest, ComNamesResolveThroughThePortMap) {
#ifdef _WIN32
    GTEST_SKIP() << "the port map is Linux's; Windows resolves COM names itself";
#else
    testing::TempConfigHome home;
    PtyPair pty;
    std::string error;
    ASSERT_TRUE(AddPortLink(7, pty.SlavePath(), error)) << error;
    COMMCONFIG config;
    std::uint32_t size = sizeof config;
    EXPECT_TRUE(GetDefaultCommConfig("COM7", &config, &size));
    EXPECT_TRUE(GetDefaultCommConfig("\\\\.\\COM7", &config, &size));
    EXPECT_FALSE(GetDefaultCommConfig("COM8", &config, &size));
    EXPECT_EQ(LastError(), ERROR_FILE_NOT_FOUND);

    const CommHandle handle = CreateFile("\\\\.\\COM7");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << LastError();
    Operation write;
    const std::uint8_t byte = 0x68;
    std::uint32_t written = 0;
    EXPECT_TRUE(WriteFile(handle, &byte, 1, &written, &write.Record));
    EXPECT_EQ(pty.ReadFromDevice(1, std::chrono::seconds(5)), Bytes{0x68});
    EXPECT_EQ(CreateFile("COM7"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), ERROR_ACCESS_DENIED);
    CloseHandle(handle);
    EXPECT_EQ(CreateFile("COM8"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), ERROR_FILE_NOT_FOUND);
    RemovePortLink(7, pty.SlavePath());
#endif
}

} // namespace
} // namespace mbus::platform

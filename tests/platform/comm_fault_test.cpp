// The comm device against faults no pseudo-terminal shows, injected through the kernel
// interface: modem-line changes, error counters, EIO, hang-ups with zero-byte reads, and the
// lines and calls the device makes (none at all for a path that is not a terminal).
#include "platform/comm_device.h"
#include "platform/posix/kernel_interface.h"
#include "platform/system_error.h"
#include "support/pty_pair.h"
#include "support/temp_config_home.h"
#include "support/wait_until.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace mbus::platform {
namespace {

using testing::PtyPair;
using testing::WaitFor;

// The C library's calls, with modem lines and error counters of its own (instead of ENOTTY),
// and switchable faults on the device's descriptor.
class FaultyKernel : public KernelInterface {
public:
    int Open(const char* path, int flags) override {
        const int fd = KernelInterface::Open(path, flags);
        std::lock_guard lock(Lock_);
        DeviceFd_ = fd;
        return fd;
    }

    ssize_t Read(int fd, void* buffer, std::size_t count) override {
        {
            std::lock_guard lock(Lock_);
            if (fd == DeviceFd_ && ReadFault_ != Fault::None)
                return ReadFault_ == Fault::HangUp ? 0 : (errno = EIO, -1);
        }
        return KernelInterface::Read(fd, buffer, count);
    }

    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override {
        {
            std::lock_guard lock(Lock_);
            ++Polls_;
            LastPollWatchedDevice_ = false;
            for (nfds_t i = 0; i < count; ++i)
                LastPollWatchedDevice_ = LastPollWatchedDevice_ || fds[i].fd == DeviceFd_;
            LastPollTimeout_ = timeoutMs;
        }
        const int ready = KernelInterface::Poll(fds, count, timeoutMs);
        std::lock_guard lock(Lock_);
        if (ReadFault_ != Fault::HangUp)
            return ready;
        int result = 0;
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].fd == DeviceFd_)
                fds[i].revents |= POLLHUP | POLLERR;
            result += fds[i].revents != 0;
        }
        return result;
    }

    int Ioctl(int fd, unsigned long request, void* argument) override {
        std::lock_guard lock(Lock_);
        if (fd != DeviceFd_)
            return KernelInterface::Ioctl(fd, request, argument);
        switch (request) {
        case TIOCMGET:
            *static_cast<int*>(argument) = Lines_;
            return 0;
        case TIOCMBIS:
            Lines_ |= *static_cast<int*>(argument);
            return 0;
        case TIOCMBIC:
            Lines_ &= ~*static_cast<int*>(argument);
            return 0;
        case TIOCGICOUNT:
            *static_cast<serial_icounter_struct*>(argument) = Counts_;
            return 0;
        default:
            return KernelInterface::Ioctl(fd, request, argument);
        }
    }

    enum class Fault { None, Eio, HangUp };
    void SetReadFault(Fault fault) {
        std::lock_guard lock(Lock_);
        ReadFault_ = fault;
    }
    void SetLines(int lines) {
        std::lock_guard lock(Lock_);
        Lines_ = lines;
    }
    int Lines() {
        std::lock_guard lock(Lock_);
        return Lines_;
    }
    template <typename Change> void ChangeCounts(Change change) {
        std::lock_guard lock(Lock_);
        change(Counts_);
    }
    // Whether the latest poll left the device out and waits without a time-out.
    bool IdleWithoutDevice() {
        std::lock_guard lock(Lock_);
        return !LastPollWatchedDevice_ && LastPollTimeout_ < 0;
    }

private:
    std::mutex Lock_;
    int DeviceFd_ = -1;
    Fault ReadFault_ = Fault::None;
    int Lines_ = 0;
    serial_icounter_struct Counts_{};
    int Polls_ = 0;
    bool LastPollWatchedDevice_ = false;
    int LastPollTimeout_ = 0;
};

// The C library's calls, counting the opens.
class CountingKernel : public KernelInterface {
public:
    int Open(const char* path, int flags) override {
        ++Opens;
        return KernelInterface::Open(path, flags);
    }
    std::atomic<int> Opens{0};
};

TEST(CommOpenCheckTest, NothingButATerminalIsOpened) {
    // Opening a file, a FIFO or another device read-write may change it or block: each is
    // refused as no serial device (2), with what it is, before anything is opened.
    testing::TempConfigHome home;
    const std::filesystem::path fifo = home.Root() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string file = home.AddLinkToFile(3);
    CountingKernel kernel;
    SetKernelInterface(&kernel);
    const std::pair<std::string, const char*> paths[] = {
        {file, "a regular file"},
        {fifo.string(), "a FIFO"},
        {home.Root().string(), "a folder"},
        {"/dev/null", "a character device (1:3)"},
        {"/dev/zero", "a character device (1:5)"},
        {"/dev/tty", "a terminal of the system (5:0), not a serial port"},
        {"COM3", "a regular file"}, // through the port map, which leaves the link out
    };
    for (const auto& [path, what] : paths) {
        EXPECT_EQ(CreateFile(path), INVALID_HANDLE_VALUE) << path;
        EXPECT_EQ(LastError(), ERROR_FILE_NOT_FOUND) << path;
        const std::string cause = TakeOpenFailureCause();
        EXPECT_NE(cause.find(what), std::string::npos) << cause;
        EXPECT_EQ(TakeOpenFailureCause(), "") << "taken once";
    }
    EXPECT_EQ(kernel.Opens, 0);

    PtyPair pty;
    const CommHandle handle = CreateFile(pty.SlavePath());
    SetKernelInterface(nullptr);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(kernel.Opens, 1);
    EXPECT_EQ(TakeOpenFailureCause(), "");
    CloseHandle(handle);
}

struct Operation {
    Event Done{true};
    Overlapped Record;
    Operation() { Record.hEvent = &Done; }
    bool Wait(std::uint32_t ms = 5000) { return WaitOne(Done, ms) == WAIT_OBJECT_0; }
};

class CommFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetKernelInterface(&Kernel);
        Handle = CreateFile(Pty.SlavePath());
        SetKernelInterface(nullptr); // the device keeps the interface it was opened with
        ASSERT_NE(Handle, INVALID_HANDLE_VALUE) << LastError();
        COMMTIMEOUTS atOnce;
        atOnce.ReadIntervalTimeout = MAXDWORD;
        ASSERT_TRUE(SetCommTimeouts(Handle, &atOnce));
    }
    void TearDown() override { CloseHandle(Handle); }

    // Starts a wait and returns the events it completes with (0 when it does not in time).
    std::uint32_t NextEvents() {
        Operation wait;
        std::uint32_t events = 0;
        if (!WaitCommEvent(Handle, &events, &wait.Record)) {
            EXPECT_EQ(LastError(), ERROR_IO_PENDING);
            if (!wait.Wait()) {
                SetCommMask(Handle, 0x01F9); // completes the wait before the record goes
                return 0;
            }
        }
        return events;
    }

    FaultyKernel Kernel;
    PtyPair Pty;
    CommHandle Handle = INVALID_HANDLE_VALUE;
};

TEST_F(CommFaultTest, ModemLineChangesBecomeEventsAndStatus) {
    Kernel.SetLines(TIOCM_DSR);
    ASSERT_TRUE(SetCommMask(Handle, 0x01F9)); // the lines as they are now are no change
    Operation wait;
    std::uint32_t events = 0;
    ASSERT_FALSE(WaitCommEvent(Handle, &events, &wait.Record));
    Kernel.SetLines(TIOCM_DSR | TIOCM_CTS);
    ASSERT_TRUE(wait.Wait());
    EXPECT_EQ(events, EV_CTS);

    Kernel.SetLines(TIOCM_CTS | TIOCM_CD | TIOCM_RNG);
    EXPECT_EQ(NextEvents(), EV_DSR | EV_RLSD | EV_RING);
    std::uint32_t status = 0;
    ASSERT_TRUE(GetCommModemStatus(Handle, &status));
    EXPECT_EQ(status, MS_CTS_ON | MS_RLSD_ON | MS_RING_ON);

    // Changes the mask does not ask for are not reported.
    ASSERT_TRUE(SetCommMask(Handle, EV_CTS | EV_RXCHAR));
    Kernel.SetLines(TIOCM_CTS);
    Kernel.SetLines(0);
    EXPECT_EQ(NextEvents(), EV_CTS);
}

TEST_F(CommFaultTest, ErrorCountersBecomeEventsAndLineErrors) {
    ASSERT_TRUE(SetCommMask(Handle, 0x01F9));
    Kernel.ChangeCounts([](serial_icounter_struct& c) { ++c.frame; });
    EXPECT_EQ(NextEvents(), EV_ERR);
    Kernel.ChangeCounts([](serial_icounter_struct& c) { ++c.brk; });
    EXPECT_EQ(NextEvents(), EV_BREAK);
    Kernel.ChangeCounts([](serial_icounter_struct& c) {
        ++c.overrun;
        ++c.parity;
        ++c.buf_overrun;
    });
    EXPECT_EQ(NextEvents(), EV_ERR);

    std::uint32_t errors = 0;
    ASSERT_TRUE(ClearCommError(Handle, &errors, nullptr));
    EXPECT_EQ(errors, CE_FRAME | CE_BREAK | CE_OVERRUN | CE_RXPARITY | CE_RXOVER);
    ASSERT_TRUE(ClearCommError(Handle, &errors, nullptr));
    EXPECT_EQ(errors, 0u); // taken and cleared

    // Errors are counted also while nobody waits for events.
    ASSERT_TRUE(SetCommMask(Handle, 0));
    Kernel.ChangeCounts([](serial_icounter_struct& c) { ++c.parity; });
    ASSERT_TRUE(ClearCommError(Handle, &errors, nullptr));
    EXPECT_EQ(errors, CE_RXPARITY);
}

TEST_F(CommFaultTest, StateAndEscapeFunctionsDriveTheLines) {
    DCB dcb;
    ASSERT_TRUE(GetCommState(Handle, &dcb));
    dcb.Flags =
        (dcb.Flags & ~(DCB_DTR_CONTROL_MASK | DCB_RTS_CONTROL_MASK)) | DCB_DTR_CONTROL_ENABLE;
    ASSERT_TRUE(SetCommState(Handle, &dcb));
    EXPECT_EQ(Kernel.Lines() & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR);
    ASSERT_TRUE(EscapeCommFunction(Handle, SETRTS));
    ASSERT_TRUE(EscapeCommFunction(Handle, CLRDTR));
    EXPECT_EQ(Kernel.Lines() & (TIOCM_DTR | TIOCM_RTS), TIOCM_RTS);
}

TEST_F(CommFaultTest, ReadErrorMeansTheDeviceIsGone) {
    ASSERT_TRUE(SetCommMask(Handle, EV_CTS));
    Operation wait;
    std::uint32_t events = 0;
    ASSERT_FALSE(WaitCommEvent(Handle, &events, &wait.Record));
    Kernel.SetReadFault(FaultyKernel::Fault::Eio);
    Operation read;
    std::uint8_t byte = 0;
    std::uint32_t n = 0;
    EXPECT_FALSE(ReadFile(Handle, &byte, 1, &n, &read.Record));
    EXPECT_EQ(LastError(), ERROR_DEVICE_NOT_CONNECTED);
    ASSERT_TRUE(wait.Wait()); // the pending wait fails with it
    std::uint32_t transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(Handle, &wait.Record, &transferred, false));
    EXPECT_EQ(LastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(WriteFile(Handle, &byte, 1, &n, &read.Record));
    EXPECT_EQ(LastError(), ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(CommFaultTest, HangUpWithZeroByteReadsFailsAndStopsWatching) {
    ASSERT_TRUE(SetCommMask(Handle, EV_RXCHAR));
    Operation wait;
    std::uint32_t events = 0;
    ASSERT_FALSE(WaitCommEvent(Handle, &events, &wait.Record));
    Kernel.SetReadFault(FaultyKernel::Fault::HangUp);
    Pty.WriteToDevice({0x16}); // wakes the poll, which now also reports the hang-up
    ASSERT_TRUE(wait.Wait());
    std::uint32_t transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(Handle, &wait.Record, &transferred, false));
    EXPECT_EQ(LastError(), ERROR_DEVICE_NOT_CONNECTED);

    // The service thread no longer polls the descriptor (which would report the hang-up for
    // ever) and sleeps until asked.
    EXPECT_TRUE(WaitFor([&] { return Kernel.IdleWithoutDevice(); }));
    Operation read;
    std::uint8_t byte = 0;
    EXPECT_FALSE(ReadFile(Handle, &byte, 1, &transferred, &read.Record));
    EXPECT_EQ(LastError(), ERROR_DEVICE_NOT_CONNECTED);
}

} // namespace
} // namespace mbus::platform

// One open serial device on Linux: a termios tty opened non-blocking and locked against other
// opens, with the comm device's operations and their platform semantics. A service thread per
// device completes what goes pending (event waits, reads, writes) by polling the descriptor and,
// while an event wait asks for them, sampling the modem lines and the error counters.
// The comm device functions (comm_device.cpp) reach a device through their handle table.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "platform/comm_device.h"
#include "platform/posix/kernel_interface.h"

struct termios2;

namespace mbus::platform::posix {

class TtyDevice {
public:
    // Opens the device at `path` through `kernel`, exclusively, in raw mode, with empty queues.
    // None (last error set) when it cannot: 2 no such device, 5 held by another open, ...
    // The terminal settings found at open come back at close, so a device is not left raw.
    static std::unique_ptr<TtyDevice> Open(const std::string& path, KernelInterface& kernel);

    ~TtyDevice(); // closes the device if Close has not
    TtyDevice(const TtyDevice&) = delete;
    TtyDevice& operator=(const TtyDevice&) = delete;

    // Completes every pending operation with ERROR_INVALID_HANDLE, stops the service thread,
    // restores the terminal settings found at open and closes the descriptor. Later calls of the
    // other operations fail with that error.
    void Close();

    // The operations of comm_device.h, on this device; each sets the last error when it fails.
    bool GetState(DCB& dcb);
    bool SetState(const DCB& dcb);
    bool Setup(std::uint32_t inQueue, std::uint32_t outQueue);
    bool GetTimeouts(COMMTIMEOUTS& timeouts);
    bool SetTimeouts(const COMMTIMEOUTS& timeouts);
    bool SetMask(std::uint32_t mask);
    bool GetMask(std::uint32_t& mask);
    bool WaitEvent(std::uint32_t* events, Overlapped* overlapped);
    bool Read(void* buffer, std::uint32_t count, std::uint32_t* read, Overlapped* overlapped);
    bool Write(const void* buffer, std::uint32_t count, std::uint32_t* written,
               Overlapped* overlapped);
    bool Purge(std::uint32_t flags);
    bool Cancel(Overlapped* overlapped);
    // WaitForOperation of comm_device.h: `events` are the record's event and the others. While
    // the record is a pending read, the calling thread polls the descriptor beside the events
    // and serves the reads itself when bytes come.
    std::uint32_t AwaitOperation(const Overlapped& record, std::span<Event* const> events,
                                 std::uint32_t timeoutMs);
    bool ClearError(std::uint32_t* errors, COMSTAT* status);
    bool Escape(std::uint32_t function);
    bool ModemStatus(std::uint32_t* status);

private:
    struct PendingRead {
        Overlapped* Record;
        std::uint8_t* Buffer;
        std::uint32_t Count;
    };
    struct PendingWrite {
        Overlapped* Record;
        const std::uint8_t* Data;
        std::uint32_t Count;
        std::uint32_t Done; // bytes handed to the kernel so far
    };
    struct PendingWait {
        Overlapped* Record;
        std::uint32_t* Events;
    };
    struct ErrorCounts {
        int Frame = 0;
        int Overrun = 0;
        int Parity = 0;
        int Break = 0;
        int BufferOverrun = 0;
    };

    TtyDevice(int fd, int wakeFd, KernelInterface& kernel);

    // What the service thread polls for: the descriptor (events; hang-ups and errors are
    // reported even with none) and the time-out for sampling the lines.
    struct PollPlan {
        bool WatchDevice = false;
        short Events = 0;
        int TimeoutMs = -1;
        bool operator==(const PollPlan&) const = default;
    };

    // All below with Lock_ held.
    PollPlan Plan() const;          // what the service thread should poll for in the present state
    void ReviewService();           // wakes the service thread when it polls for something else
    bool NotClosed();               // sets the last error when closed
    bool Usable();                  // open and not failed; sets the last error otherwise
    bool ReadsReturnAtOnce() const; // the time-outs say "return at once with what is there"
    void WakeService();             // makes the service thread look at the state again
    void Fail(std::uint32_t error); // the device is gone: every transfer fails with `error`
    void FailAll(std::uint32_t error); // completes every pending operation with `error`
    bool KernelError(int errnoValue);  // whether an errno means the device is gone (and Fail)
    void SampleModemLines();
    void SampleErrorCounters();
    bool SamplingNeeded() const;
    void ServeReads();
    void ServeWrites();
    // What a poll of the descriptor reported (none for a time-out): reads and writes served,
    // hang-ups noted, line events sampled and a pending event wait completed.
    void NoteDeviceEvents(short revents);
    void CompleteWait(std::uint32_t events);
    bool TermiosOf(termios2& tio);

    void Serve(); // the service thread

    KernelInterface& Kernel_;
    const int WakeFd_;                // eventfd the service thread polls beside the device
    std::unique_ptr<termios2> Found_; // the settings at open, restored at close

    std::mutex Lock_; // guards every field below
    int Fd_;
    bool Closed_ = false;
    std::uint32_t DeviceError_ = 0; // non-zero once the device is gone
    DCB Shadow_;                    // what termios cannot hold
    COMMTIMEOUTS Timeouts_;
    std::uint32_t Mask_ = 0;
    std::uint32_t History_ = 0;    // masked events seen and not yet reported
    std::uint32_t LineErrors_ = 0; // CE_* bits since the last ClearCommError
    bool RxArmed_ = true;          // EV_RXCHAR may be reported (re-armed by every read)
    bool HasModemLines_ = false;   // TIOCMGET works (not on a pseudo-terminal)
    bool HasCounters_ = false;     // TIOCGICOUNT works (not on a pseudo-terminal)
    int ModemLines_ = 0;           // TIOCM_* bits at the last sample
    ErrorCounts Counts_;           // error counters at the last sample
    std::deque<PendingRead> Reads_;
    std::deque<PendingWrite> Writes_;
    std::optional<PendingWait> Wait_;
    // The plan the service thread is polling with; none while it is not in poll (it plans again
    // before it polls next, so nothing needs to wake it).
    std::optional<PollPlan> Polling_;
    // Threads in AwaitOperation polling the descriptor; Close waits for them to leave it.
    int Assisting_ = 0;
    std::condition_variable AssistantsGone_;

    std::thread Service_;
};

} // namespace mbus::platform::posix

#include "platform/posix/tty_device.h"

#include "platform/posix/dcb_termios.h"
#include "platform/posix/descriptor_wait.h"
#include "platform/posix/overlapped_record.h"
#include "platform/system_error.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace mbus::platform::posix {
namespace {

// How often the modem lines and error counters are sampled while an event wait asks for them.
constexpr int kLineSamplingMs = 20;

constexpr std::uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr std::uint32_t kCounterEvents = EV_ERR | EV_BREAK;
constexpr std::uint32_t kPurgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// What the GetOverlappedResult of a completed event wait reports as transferred.
constexpr std::uint32_t kEventWaitBytes = sizeof(std::uint32_t);

// The open's error for an errno: a node without a device behind it is no such device.
std::uint32_t OpenError(int errnoValue) {
    switch (errnoValue) {
    case ENXIO:
    case ENODEV:
    case EIO:
    case ENOTTY:
    case EINVAL:
        return ERROR_FILE_NOT_FOUND;
    case EWOULDBLOCK: // flock: another open holds the device
    case EBUSY:       // TIOCEXCL of another program
        return ERROR_ACCESS_DENIED;
    default:
        return ErrorFromErrno(errnoValue);
    }
}

bool Unsupported(int errnoValue) {
    return errnoValue == ENOTTY || errnoValue == EINVAL;
}

// The descriptor while the open is being set up; closed unless released.
class PendingDescriptor {
public:
    PendingDescriptor(KernelInterface& kernel, int fd) : Kernel_(kernel), Fd_(fd) {}
    ~PendingDescriptor() {
        if (Fd_ >= 0)
            Kernel_.Close(Fd_);
    }
    PendingDescriptor(const PendingDescriptor&) = delete;
    PendingDescriptor& operator=(const PendingDescriptor&) = delete;
    int Get() const { return Fd_; }
    int Release() { return std::exchange(Fd_, -1); }

private:
    KernelInterface& Kernel_;
    int Fd_;
};

} // namespace

std::unique_ptr<TtyDevice> TtyDevice::Open(const std::string& path, KernelInterface& kernel) {
    PendingDescriptor fd(kernel,
                         kernel.Open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        SetLastError(OpenError(errno));
        return nullptr;
    }
    // The lock keeps every other open out, this process's and root's included; TIOCEXCL alone
    // would not stop root.
    if (kernel.Flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        SetLastError(OpenError(errno));
        return nullptr;
    }
    termios2 tio{};
    if (kernel.Ioctl(fd.Get(), TCGETS2, &tio) != 0) {
        SetLastError(OpenError(errno)); // not a tty: no such serial device
        return nullptr;
    }
    auto found = std::make_unique<termios2>(tio);
    MakeOpenState(tio);
    if (kernel.Ioctl(fd.Get(), TCSETS2, &tio) != 0) {
        SetLastError(OpenError(errno));
        return nullptr;
    }
    // A freshly opened port has empty queues; a tty may hold bytes from before.
    kernel.Ioctl(fd.Get(), TCFLSH, reinterpret_cast<void*>(static_cast<std::intptr_t>(TCIOFLUSH)));

    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        SetLastError(ErrorFromErrno(errno));
        kernel.Ioctl(fd.Get(), TCSETS2, found.get());
        return nullptr;
    }
    // Keeps out programs that do not lock; from here on Close clears it again.
    kernel.Ioctl(fd.Get(), TIOCEXCL, nullptr);
    std::unique_ptr<TtyDevice> device(new TtyDevice(fd.Release(), wakeFd, kernel));
    device->Found_ = std::move(found);
    {
        std::lock_guard lock(device->Lock_);
        device->Shadow_ = DcbFromTermios(tio, DefaultDcb());

        int lines = 0;
        device->HasModemLines_ = kernel.Ioctl(device->Fd_, TIOCMGET, &lines) == 0;
        device->ModemLines_ = lines;
        serial_icounter_struct counts{};
        device->HasCounters_ = kernel.Ioctl(device->Fd_, TIOCGICOUNT, &counts) == 0;
        device->Counts_ = {counts.frame, counts.overrun, counts.parity, counts.brk,
                           counts.buf_overrun};
    }
    try {
        device->Service_ = std::thread(&TtyDevice::Serve, device.get());
    } catch (const std::system_error& error) {
        SetLastError(ErrorFromErrno(error.code().value()));
        return nullptr; // the destructor closes the descriptors
    }
    return device;
}

TtyDevice::TtyDevice(int fd, int wakeFd, KernelInterface& kernel)
    : Kernel_(kernel), WakeFd_(wakeFd), Fd_(fd) {}

TtyDevice::~TtyDevice() {
    Close();
    ::close(WakeFd_);
}

void TtyDevice::Close() {
    {
        std::lock_guard lock(Lock_);
        if (Closed_)
            return;
        Closed_ = true;
        FailAll(ERROR_INVALID_HANDLE);
        WakeService();
    }
    if (Service_.joinable())
        Service_.join();
    std::unique_lock lock(Lock_);
    // Threads serving their reads in AwaitOperation saw their records complete above; the
    // descriptor goes once none of them polls it any more.
    AssistantsGone_.wait(lock, [this] { return Assisting_ == 0; });
    // The device is left as it was found (a terminal opened by mistake is not left raw), at once:
    // waiting for the output to drain could wait for ever on a line held by flow control.
    if (Found_)
        Kernel_.Ioctl(Fd_, TCSETS2, Found_.get());
    Kernel_.Ioctl(Fd_, TIOCNXCL, nullptr); // the tty may stay open elsewhere; let others in
    Kernel_.Close(Fd_);                    // also drops the lock
    Fd_ = -1;
}

bool TtyDevice::NotClosed() {
    if (Closed_)
        return FailWith(ERROR_INVALID_HANDLE);
    return true;
}

bool TtyDevice::Usable() {
    if (!NotClosed())
        return false;
    if (DeviceError_ != 0)
        return FailWith(DeviceError_);
    return true;
}

bool TtyDevice::ReadsReturnAtOnce() const {
    return Timeouts_.ReadIntervalTimeout == MAXDWORD && Timeouts_.ReadTotalTimeoutMultiplier == 0 &&
           Timeouts_.ReadTotalTimeoutConstant == 0;
}

TtyDevice::PollPlan TtyDevice::Plan() const {
    PollPlan plan;
    // The descriptor is watched only while something waits for it, and never after a hang-up:
    // a hung-up tty reports POLLHUP for ever, and polling it would spin.
    plan.WatchDevice = DeviceError_ == 0 && (Wait_ || !Reads_.empty() || !Writes_.empty());
    if (plan.WatchDevice) {
        if (!Reads_.empty() || (Wait_ && (Mask_ & EV_RXCHAR) && RxArmed_))
            plan.Events |= POLLIN;
        if (!Writes_.empty())
            plan.Events |= POLLOUT;
    }
    plan.TimeoutMs = SamplingNeeded() ? kLineSamplingMs : -1;
    return plan;
}

void TtyDevice::ReviewService() {
    if (Polling_ && *Polling_ != Plan())
        WakeService();
}

void TtyDevice::WakeService() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(WakeFd_, &one, sizeof one);
}

void TtyDevice::FailAll(std::uint32_t error) {
    for (const PendingRead& read : Reads_)
        CompleteRecord(*read.Record, error, 0);
    Reads_.clear();
    for (const PendingWrite& write : Writes_)
        CompleteRecord(*write.Record, error, write.Done);
    Writes_.clear();
    if (Wait_) {
        CompleteRecord(*Wait_->Record, error, 0);
        Wait_.reset();
    }
}

void TtyDevice::Fail(std::uint32_t error) {
    if (DeviceError_ == 0)
        DeviceError_ = error;
    FailAll(DeviceError_);
    WakeService(); // the service thread stops watching the descriptor
}

bool TtyDevice::KernelError(int errnoValue) {
    switch (errnoValue) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
        Fail(ERROR_DEVICE_NOT_CONNECTED);
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return true;
    default:
        return false;
    }
}

bool TtyDevice::TermiosOf(termios2& tio) {
    if (Kernel_.Ioctl(Fd_, TCGETS2, &tio) == 0)
        return true;
    const int error = errno;
    if (!KernelError(error))
        SetLastError(ErrorFromErrno(error));
    return false;
}

bool TtyDevice::GetState(DCB& dcb) {
    std::lock_guard lock(Lock_);
    termios2 tio{};
    if (!Usable() || !TermiosOf(tio))
        return false;
    dcb = DcbFromTermios(tio, Shadow_);
    return true;
}

bool TtyDevice::SetState(const DCB& dcb) {
    std::lock_guard lock(Lock_);
    if (!Usable())
        return false;
    if (!IsValidDcb(dcb))
        return FailWith(ERROR_INVALID_PARAMETER);
    termios2 tio{};
    if (!TermiosOf(tio))
        return false;
    ApplyDcbToTermios(dcb, tio);
    if (Kernel_.Ioctl(Fd_, TCSETS2, &tio) != 0) {
        const int error = errno;
        if (!KernelError(error))
            SetLastError(error == EINVAL ? ERROR_INVALID_PARAMETER : ErrorFromErrno(error));
        return false;
    }
    Shadow_ = dcb;

    // The control fields also set the lines now, as the platform's drivers do; handshake modes
    // leave them to the flow control. A device without modem lines has nothing to set.
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    switch (dcb.Flags & DCB_DTR_CONTROL_MASK) {
    case DCB_DTR_CONTROL_ENABLE:
        Kernel_.Ioctl(Fd_, TIOCMBIS, &dtr);
        break;
    case 0:
        Kernel_.Ioctl(Fd_, TIOCMBIC, &dtr);
        break;
    default:
        break;
    }
    switch (dcb.Flags & DCB_RTS_CONTROL_MASK) {
    case DCB_RTS_CONTROL_ENABLE:
        Kernel_.Ioctl(Fd_, TIOCMBIS, &rts);
        break;
    case 0:
    case DCB_RTS_CONTROL_TOGGLE:
        Kernel_.Ioctl(Fd_, TIOCMBIC, &rts);
        break;
    default:
        break;
    }
    return true;
}

bool TtyDevice::Setup(std::uint32_t /*inQueue*/, std::uint32_t /*outQueue*/) {
    // The kernel sizes a tty's queues itself; the sizes are accepted and have no effect.
    std::lock_guard lock(Lock_);
    return NotClosed();
}

bool TtyDevice::GetTimeouts(COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(Lock_);
    if (!NotClosed())
        return false;
    timeouts = Timeouts_;
    return true;
}

bool TtyDevice::SetTimeouts(const COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(Lock_);
    if (!NotClosed())
        return false;
    Timeouts_ = timeouts;
    return true;
}

bool TtyDevice::SetMask(std::uint32_t mask) {
    std::lock_guard lock(Lock_);
    if (!NotClosed())
        return false;
    if ((mask & ~EV_SUPPORTED_MASK) != 0)
        return FailWith(ERROR_INVALID_PARAMETER);
    // Changes up to now are history that the new mask starts without.
    SampleModemLines();
    SampleErrorCounters();
    Mask_ = mask;
    History_ = 0;
    if (Wait_)
        CompleteWait(0);
    ReviewService();
    return true;
}

bool TtyDevice::GetMask(std::uint32_t& mask) {
    std::lock_guard lock(Lock_);
    if (!NotClosed())
        return false;
    mask = Mask_;
    return true;
}

bool TtyDevice::WaitEvent(std::uint32_t* events, Overlapped* overlapped) {
    std::lock_guard lock(Lock_);
    if (events == nullptr || overlapped == nullptr || overlapped->hEvent == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (!Usable())
        return false;
    if (Mask_ == 0 || Wait_) {
        SetLastError(ERROR_INVALID_PARAMETER); // nothing to wait for, or a wait is pending
        return false;
    }
    SampleModemLines();
    SampleErrorCounters();
    if (const std::uint32_t seen = History_ & Mask_; seen != 0) {
        History_ &= ~seen;
        *events = seen;
        CompleteRecord(*overlapped, ERROR_SUCCESS, kEventWaitBytes);
        return true;
    }
    *events = 0;
    StartPending(*overlapped);
    Wait_ = PendingWait{overlapped, events};
    ReviewService();
    return FailWith(ERROR_IO_PENDING);
}

bool TtyDevice::Read(void* buffer, std::uint32_t count, std::uint32_t* read,
                     Overlapped* overlapped) {
    std::lock_guard lock(Lock_);
    if (overlapped == nullptr || overlapped->hEvent == nullptr || (buffer == nullptr && count))
        return FailWith(ERROR_INVALID_PARAMETER);
    if (read)
        *read = 0;
    if (!Usable())
        return false;
    if (!RxArmed_) {
        // A read is what re-arms EV_RXCHAR: bytes that nobody reads are reported once.
        RxArmed_ = true;
        if (Wait_ && (Mask_ & EV_RXCHAR))
            ReviewService();
    }
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    if (count == 0) {
        CompleteRecord(*overlapped, ERROR_SUCCESS, 0);
        return true;
    }
    if (Reads_.empty() || ReadsReturnAtOnce()) { // otherwise it queues behind the pending reads
        for (;;) {
            const ssize_t got = Kernel_.Read(Fd_, bytes, count);
            if (got > 0) {
                CompleteRecord(*overlapped, ERROR_SUCCESS, static_cast<std::uint32_t>(got));
                if (read)
                    *read = static_cast<std::uint32_t>(got);
                return true;
            }
            const int error = errno;
            if (got == 0) {
                // Non-blocking with VMIN 1: "nothing yet" is EAGAIN, end of file is a hang-up.
                Fail(ERROR_DEVICE_NOT_CONNECTED);
                return FailWith(ERROR_DEVICE_NOT_CONNECTED);
            }
            if (error == EINTR)
                continue;
            if (error == EAGAIN)
                break;
            if (!KernelError(error))
                SetLastError(ErrorFromErrno(error));
            return false;
        }
        if (ReadsReturnAtOnce()) {
            CompleteRecord(*overlapped, ERROR_SUCCESS, 0);
            return true;
        }
    }
    StartPending(*overlapped);
    Reads_.push_back({overlapped, bytes, count});
    ReviewService();
    return FailWith(ERROR_IO_PENDING);
}

bool TtyDevice::Write(const void* buffer, std::uint32_t count, std::uint32_t* written,
                      Overlapped* overlapped) {
    std::lock_guard lock(Lock_);
    if (overlapped == nullptr || overlapped->hEvent == nullptr || (buffer == nullptr && count))
        return FailWith(ERROR_INVALID_PARAMETER);
    if (written)
        *written = 0;
    if (!Usable())
        return false;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::uint32_t done = 0;
    if (Writes_.empty()) { // otherwise the bytes queue behind the pending ones
        while (done < count) {
            const ssize_t put = Kernel_.Write(Fd_, bytes + done, count - done);
            if (put > 0) {
                done += static_cast<std::uint32_t>(put);
                continue;
            }
            const int error = errno;
            if (put < 0 && error == EINTR)
                continue;
            if (put == 0 || error == EAGAIN)
                break;
            if (!KernelError(error))
                SetLastError(ErrorFromErrno(error));
            return false;
        }
        if (done == count) {
            CompleteRecord(*overlapped, ERROR_SUCCESS, count);
            if (written)
                *written = count;
            return true;
        }
    }
    StartPending(*overlapped);
    Writes_.push_back({overlapped, bytes, count, done});
    ReviewService();
    return FailWith(ERROR_IO_PENDING);
}

bool TtyDevice::Cancel(Overlapped* overlapped) {
    std::lock_guard lock(Lock_);
    const auto read = std::find_if(Reads_.begin(), Reads_.end(),
                                   [&](const PendingRead& r) { return r.Record == overlapped; });
    if (read != Reads_.end()) {
        CompleteRecord(*read->Record, ERROR_OPERATION_ABORTED, 0);
        Reads_.erase(read);
        return true;
    }
    const auto write = std::find_if(Writes_.begin(), Writes_.end(),
                                    [&](const PendingWrite& w) { return w.Record == overlapped; });
    if (write != Writes_.end()) {
        CompleteRecord(*write->Record, ERROR_OPERATION_ABORTED, write->Done);
        Writes_.erase(write);
        ReviewService();
        return true;
    }
    if (Wait_ && Wait_->Record == overlapped) {
        CompleteRecord(*Wait_->Record, ERROR_OPERATION_ABORTED, 0);
        Wait_.reset();
        return true;
    }
    return FailWith(ERROR_NOT_FOUND);
}

bool TtyDevice::Purge(std::uint32_t flags) {
    std::lock_guard lock(Lock_);
    if (!NotClosed())
        return false;
    if ((flags & ~kPurgeFlags) != 0)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (flags & PURGE_TXABORT) {
        for (const PendingWrite& write : Writes_)
            CompleteRecord(*write.Record, ERROR_OPERATION_ABORTED, write.Done);
        Writes_.clear();
    }
    if (flags & PURGE_RXABORT) {
        for (const PendingRead& read : Reads_)
            CompleteRecord(*read.Record, ERROR_OPERATION_ABORTED, 0);
        Reads_.clear();
    }
    int queues = -1;
    if ((flags & PURGE_TXCLEAR) && (flags & PURGE_RXCLEAR))
        queues = TCIOFLUSH;
    else if (flags & PURGE_TXCLEAR)
        queues = TCOFLUSH;
    else if (flags & PURGE_RXCLEAR)
        queues = TCIFLUSH;
    if (queues >= 0) {
        if (!Usable())
            return false;
        if (Kernel_.Ioctl(Fd_, TCFLSH,
                          reinterpret_cast<void*>(static_cast<std::intptr_t>(queues))) != 0) {
            const int error = errno;
            if (!KernelError(error))
                SetLastError(ErrorFromErrno(error));
            return false;
        }
    }
    ReviewService();
    return true;
}

bool TtyDevice::ClearError(std::uint32_t* errors, COMSTAT* status) {
    std::lock_guard lock(Lock_);
    if (!Usable())
        return false;
    SampleErrorCounters();
    if (status) {
        int inQueue = 0;
        int outQueue = 0;
        for (auto [request, value] :
             {std::pair{FIONREAD, &inQueue}, std::pair{TIOCOUTQ, &outQueue}}) {
            if (Kernel_.Ioctl(Fd_, request, value) == 0)
                continue;
            const int error = errno;
            *value = 0;
            if (Unsupported(error))
                continue;
            if (!KernelError(error))
                SetLastError(ErrorFromErrno(error));
            return false;
        }
        std::uint32_t notWritten = 0;
        for (const PendingWrite& write : Writes_)
            notWritten += write.Count - write.Done;
        *status = COMSTAT{};
        status->cbInQue = static_cast<std::uint32_t>(inQueue);
        status->cbOutQue = static_cast<std::uint32_t>(outQueue) + notWritten;
    }
    if (errors)
        *errors = LineErrors_;
    LineErrors_ = 0;
    return true;
}

bool TtyDevice::Escape(std::uint32_t function) {
    std::lock_guard lock(Lock_);
    if (!Usable())
        return false;
    int line = 0;
    unsigned long request = 0;
    void* argument = &line;
    switch (function) {
    case SETDTR:
    case CLRDTR:
        line = TIOCM_DTR;
        request = function == SETDTR ? TIOCMBIS : TIOCMBIC;
        break;
    case SETRTS:
    case CLRRTS:
        line = TIOCM_RTS;
        request = function == SETRTS ? TIOCMBIS : TIOCMBIC;
        break;
    case SETBREAK:
    case CLRBREAK:
        request = function == SETBREAK ? TIOCSBRK : TIOCCBRK;
        argument = nullptr;
        break;
    case SETXOFF:
    case SETXON:
        request = TCXONC;
        argument = reinterpret_cast<void*>(
            static_cast<std::intptr_t>(function == SETXOFF ? TCOOFF : TCOON));
        break;
    default:
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    if (Kernel_.Ioctl(Fd_, request, argument) == 0)
        return true;
    const int error = errno;
    if (Unsupported(error))
        return true; // no such line (a pseudo-terminal): nothing to drive
    if (!KernelError(error))
        SetLastError(ErrorFromErrno(error));
    return false;
}

bool TtyDevice::ModemStatus(std::uint32_t* status) {
    std::lock_guard lock(Lock_);
    if (status == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (!Usable())
        return false;
    int lines = 0;
    if (Kernel_.Ioctl(Fd_, TIOCMGET, &lines) != 0) {
        const int error = errno;
        if (!Unsupported(error)) {
            if (!KernelError(error))
                SetLastError(ErrorFromErrno(error));
            return false;
        }
        lines = 0; // no modem lines: all off
    }
    *status = ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0) |
              ((lines & TIOCM_RNG) ? MS_RING_ON : 0) | ((lines & TIOCM_CD) ? MS_RLSD_ON : 0);
    return true;
}

void TtyDevice::SampleModemLines() {
    if (!HasModemLines_ || DeviceError_ != 0)
        return;
    int lines = 0;
    if (Kernel_.Ioctl(Fd_, TIOCMGET, &lines) != 0) {
        const int error = errno;
        if (Unsupported(error))
            HasModemLines_ = false;
        else
            KernelError(error);
        return;
    }
    const int changed = lines ^ ModemLines_;
    ModemLines_ = lines;
    std::uint32_t events = 0;
    if (changed & TIOCM_CTS)
        events |= EV_CTS;
    if (changed & TIOCM_DSR)
        events |= EV_DSR;
    if (changed & TIOCM_CD)
        events |= EV_RLSD;
    if (changed & TIOCM_RNG)
        events |= EV_RING;
    History_ |= events & Mask_;
}

void TtyDevice::SampleErrorCounters() {
    if (!HasCounters_ || DeviceError_ != 0)
        return;
    serial_icounter_struct counts{};
    if (Kernel_.Ioctl(Fd_, TIOCGICOUNT, &counts) != 0) {
        const int error = errno;
        if (Unsupported(error))
            HasCounters_ = false;
        else
            KernelError(error);
        return;
    }
    std::uint32_t errors = 0;
    std::uint32_t events = 0;
    if (counts.frame != Counts_.Frame) {
        errors |= CE_FRAME;
        events |= EV_ERR;
    }
    if (counts.overrun != Counts_.Overrun) {
        errors |= CE_OVERRUN;
        events |= EV_ERR;
    }
    if (counts.parity != Counts_.Parity) {
        errors |= CE_RXPARITY;
        events |= EV_ERR;
    }
    if (counts.brk != Counts_.Break) {
        errors |= CE_BREAK;
        events |= EV_BREAK;
    }
    if (counts.buf_overrun != Counts_.BufferOverrun)
        errors |= CE_RXOVER;
    Counts_ = {counts.frame, counts.overrun, counts.parity, counts.brk, counts.buf_overrun};
    LineErrors_ |= errors;
    History_ |= events & Mask_;
}

bool TtyDevice::SamplingNeeded() const {
    return Wait_ && DeviceError_ == 0 &&
           (((Mask_ & kModemEvents) && HasModemLines_) ||
            ((Mask_ & kCounterEvents) && HasCounters_));
}

void TtyDevice::CompleteWait(std::uint32_t events) {
    History_ &= ~events;
    *Wait_->Events = events;
    CompleteRecord(*Wait_->Record, ERROR_SUCCESS, kEventWaitBytes);
    Wait_.reset();
}

void TtyDevice::ServeReads() {
    while (!Reads_.empty() && DeviceError_ == 0) {
        const PendingRead& read = Reads_.front();
        const ssize_t got = Kernel_.Read(Fd_, read.Buffer, read.Count);
        if (got > 0) {
            CompleteRecord(*read.Record, ERROR_SUCCESS, static_cast<std::uint32_t>(got));
            Reads_.pop_front();
            continue;
        }
        const int error = errno;
        if (got == 0) {
            Fail(ERROR_DEVICE_NOT_CONNECTED);
            return;
        }
        if (error == EINTR)
            continue;
        if (error == EAGAIN || KernelError(error))
            return;
        CompleteRecord(*read.Record, ErrorFromErrno(error), 0);
        Reads_.pop_front();
    }
}

void TtyDevice::ServeWrites() {
    while (!Writes_.empty() && DeviceError_ == 0) {
        PendingWrite& write = Writes_.front();
        const ssize_t put = Kernel_.Write(Fd_, write.Data + write.Done, write.Count - write.Done);
        if (put > 0) {
            write.Done += static_cast<std::uint32_t>(put);
            if (write.Done == write.Count) {
                CompleteRecord(*write.Record, ERROR_SUCCESS, write.Count);
                Writes_.pop_front();
            }
            continue;
        }
        const int error = errno;
        if (put == 0 || error == EAGAIN || KernelError(error))
            return;
        if (error == EINTR)
            continue;
        CompleteRecord(*write.Record, ErrorFromErrno(error), write.Done);
        Writes_.pop_front();
    }
}

void TtyDevice::Serve() {
    std::unique_lock lock(Lock_);
    while (!Closed_) {
        const PollPlan plan = Plan();
        pollfd fds[2] = {{WakeFd_, POLLIN, 0}, {plan.WatchDevice ? Fd_ : -1, plan.Events, 0}};
        Polling_ = plan;
        lock.unlock();
        const int ready = Kernel_.Poll(fds, 2, plan.TimeoutMs);
        const int pollError = errno;
        lock.lock();
        Polling_.reset();
        if (Closed_)
            break;
        if (ready < 0) {
            if (pollError != EINTR && pollError != EAGAIN)
                Fail(ErrorFromErrno(pollError));
            continue;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(WakeFd_, &count, sizeof count);
        }
        NoteDeviceEvents(fds[1].revents);
    }
}

void TtyDevice::NoteDeviceEvents(short revents) {
    if ((revents & POLLIN) && Wait_ && (Mask_ & EV_RXCHAR) && RxArmed_) {
        RxArmed_ = false;
        History_ |= EV_RXCHAR;
    }
    if (revents & (POLLIN | POLLHUP | POLLERR))
        ServeReads();
    if (revents & POLLOUT)
        ServeWrites();
    if (revents & POLLNVAL)
        Fail(ERROR_INVALID_HANDLE);
    else if (revents & (POLLHUP | POLLERR))
        Fail(ERROR_DEVICE_NOT_CONNECTED); // the device went away (unplugged, other side closed)
    if (Wait_ && DeviceError_ == 0) {
        SampleModemLines();
        SampleErrorCounters();
        if (const std::uint32_t seen = History_ & Mask_; seen != 0)
            CompleteWait(seen);
    }
}

std::uint32_t TtyDevice::AwaitOperation(const Overlapped& record, std::span<Event* const> events,
                                        std::uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto timeLeft = [&]() -> std::uint32_t {
        if (timeoutMs == INFINITE)
            return INFINITE;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return static_cast<std::uint32_t>(std::max<std::int64_t>(0, left.count()));
    };
    for (;;) {
        int fd = -1;
        {
            std::lock_guard lock(Lock_);
            const bool pendingRead =
                !Closed_ && DeviceError_ == 0 &&
                std::any_of(Reads_.begin(), Reads_.end(),
                            [&](const PendingRead& read) { return read.Record == &record; });
            if (pendingRead) {
                fd = Fd_;
                ++Assisting_;
            }
        }
        // Anything but a pending read (or a read that has completed meanwhile) is a plain wait.
        if (fd < 0)
            return WaitAnyOf(events, timeLeft());
        short revents = 0;
        const std::uint32_t result =
            WaitAnyOrDescriptor(events, Kernel_, fd, POLLIN, timeLeft(), revents);
        std::lock_guard lock(Lock_);
        if (--Assisting_ == 0)
            AssistantsGone_.notify_all();
        if (result != WAIT_OBJECT_0 + events.size())
            return result;
        if (!Closed_) {
            NoteDeviceEvents(revents);
            ReviewService();
        }
        // The record's event now tells whether the read is complete; bytes the service thread
        // took first completed it all the same.
    }
}

} // namespace mbus::platform::posix

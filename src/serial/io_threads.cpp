#include "serial/io_threads.h"

#include "platform/system_error.h"
#include "serial/exceptions.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace mbus::serial {

using platform::LastError;

namespace {

// Data buffers in the receive queue hold at most this many bytes; a read is cut into them.
constexpr std::int32_t kChunkSize = 256;
// The most the read thread takes from the device in one read.
constexpr std::uint32_t kReadPiece = 8192;
// Received bytes queued for the dispatcher thread beyond which the read thread stops reading,
// so a sender faster than the port's owner fills the device (where flow control sees it), not
// the heap; it reads again once the dispatcher thread has taken the queue down to half.
constexpr std::uint32_t kQueuedBytesLimit = 64 * 1024;
// The events that go to the dispatcher as a status buffer: every watched one but EV_RXCHAR.
constexpr std::uint32_t kLineEvents =
    (kWatchedEvents | platform::EV_RING_TRAILING) & ~platform::EV_RXCHAR;

// A new 256-byte data buffer, or none when it cannot be made.
std::unique_ptr<TDataBuffer> NewChunk() {
    try {
        return std::make_unique<TDataBuffer>(kChunkSize);
    } catch (const Exception&) {
        return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

// ---- Common to the three threads ----------------------------------------------------------------

void TWin32Thread::Execute() {
    Dispatcher().NoteThreadStarted();
    Record.hEvent = &OverlappedEvent;
    ResultCode = ecOK;
    // Whatever way Run is left, the thread ends through NoteThreadFinished: the dispatcher must
    // drop its reference and count the thread out, or a close would wait for it for ever. The
    // exceptions Run can meet are failed allocations (a queue entry, an output block).
    try {
        Run();
    } catch (...) {
        ResultCode = ecNoMem;
        Dispatcher().StopThreads.store(true);
    }
    Dispatcher().NoteThreadFinished(this, ResultCode);
}

bool TWin32Thread::Stopping() const {
    return Terminated() || Dispatcher().StopThreads.load();
}

std::int32_t TWin32Thread::AwaitOverlapped(platform::Overlapped& overlapped) {
    const std::uint32_t wait =
        platform::WaitForOperation(Dispatcher().DeviceHandle(), &overlapped,
                                   {&Dispatcher().StopThreads.Raised()}, platform::INFINITE);

    if (wait == platform::WAIT_OBJECT_0) {
        std::uint32_t transferred = 0;
        if (!platform::GetOverlappedResult(Dispatcher().DeviceHandle(), &overlapped, &transferred,
                                           true))
            return ecDeviceRead;
        overlapped.hEvent->Reset();
        return static_cast<std::int32_t>(transferred);
    }
    // The wait ends without the operation: it must not complete later into a record and buffer
    // that this thread is about to give up.
    const std::uint32_t error = LastError();
    AbandonPending(overlapped);
    platform::SetLastError(error);
    if (wait == platform::WAIT_OBJECT_0 + 1)
        return 0; // the stop cut the wait short
    return ecDeviceRead;
}

void TWin32Thread::AbandonPending(platform::Overlapped& overlapped) {
    // Whether the cancel finds the operation or not (it may have completed, or a close of the
    // device may be completing it right now), the record is given up only once it is complete.
    std::uint32_t ignored = 0;
    platform::CancelIoEx(Dispatcher().DeviceHandle(), &overlapped);
    platform::GetOverlappedResult(Dispatcher().DeviceHandle(), &overlapped, &ignored, true);
    overlapped.hEvent->Reset();
}

// ---- Status thread ------------------------------------------------------------------------------

std::int32_t TStatusThread::AwaitLineEvent(std::uint32_t& events) {
    TWin32Dispatcher& d = Owner();
    events = 0;
    bool done = platform::WaitCommEvent(d.DeviceHandle(), &events, &Record);
    if (!done && LastError() == platform::ERROR_INVALID_PARAMETER &&
        (WatchMask & platform::EV_RING_TRAILING)) {
        // The driver does not know the ring's trailing edge: watch without it from now on.
        WatchMask &= ~platform::EV_RING_TRAILING;
        platform::SetCommMask(d.DeviceHandle(), WatchMask);
        done = platform::WaitCommEvent(d.DeviceHandle(), &events, &Record);
    }
    if (done)
        return ecOK;
    if (LastError() == platform::ERROR_IO_PENDING)
        return TWin32Thread::AwaitOverlapped(Record);
    d.LastSystemError.store(LastError());
    return ecDeviceRead;
}

void TStatusThread::Run() {
    TWin32Dispatcher& d = Owner();
    WatchMask = d.NtFamily ? kWatchedEvents : kWatchedEvents | platform::EV_RING_TRAILING;
    platform::SetCommMask(d.DeviceHandle(), WatchMask);

    while (!Stopping()) {
        std::uint32_t events = 0;
        const std::int32_t r = AwaitLineEvent(events);
        if (r < 0) {
            if (LastError() != platform::ERROR_INVALID_HANDLE) {
                d.LastSystemError.store(LastError());
                ResultCode = r;
            }
            d.StopThreads.store(true);
            continue;
        }
        // Received bytes need nothing from this thread: the read thread's pending read completes
        // when they arrive.
        if ((events & kLineEvents) == 0)
            continue;
        try {
            d.ReceiveQueue.Append(std::make_unique<TStatusBuffer>(events));
        } catch (const std::bad_alloc&) {
            ResultCode = ecNoMem;
            d.StopThreads.store(true);
        }
    }
}

// ---- Read thread --------------------------------------------------------------------------------

std::int32_t TReadThread::ReadChunk(std::uint8_t* storage, std::uint32_t size) {
    TWin32Dispatcher& d = Owner();
    std::uint32_t read = 0;
    if (platform::ReadFile(d.DeviceHandle(), storage, size, &read, &Record))
        return static_cast<std::int32_t>(read);
    if (LastError() != platform::ERROR_IO_PENDING) {
        d.LastSystemError.store(LastError());
        return ecDeviceRead;
    }
    const std::int32_t r = AwaitOverlapped(Record);
    if (r >= 0)
        return r;
    if (LastError() == platform::ERROR_OPERATION_ABORTED)
        return 0; // a purge aborted the read
    d.LastSystemError.store(LastError());
    return r;
}

void TReadThread::Run() {
    TWin32Dispatcher& d = Owner();
    // A read returns at once with what the device holds and otherwise stays pending until the
    // first byte arrives, so the thread wakes with the bytes in hand.
    platform::COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = platform::MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = platform::MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = platform::MAXDWORD - 1;
    platform::SetCommTimeouts(d.DeviceHandle(), &timeouts);

    std::vector<std::uint8_t> piece(kReadPiece);
    std::vector<std::unique_ptr<TIOBuffer>> chunks;
    while (!Stopping()) {
        if (d.ReceiveQueue.QueuedBytes() >= kQueuedBytesLimit &&
            !d.ReceiveQueue.AwaitRoom(kQueuedBytesLimit / 2, d.StopThreads.Raised()))
            continue; // stopping

        const std::int32_t n = ReadChunk(piece.data(), kReadPiece);
        if (n < 0) {
            if (LastError() != platform::ERROR_INVALID_HANDLE) {
                d.LastSystemError.store(LastError());
                ResultCode = ecDeviceRead;
            }
            d.StopThreads.store(true);
            continue;
        }
        // The bytes go to the queue in buffers of at most 256 bytes, all in one step.
        for (std::int32_t offset = 0; offset < n; offset += kChunkSize) {
            std::unique_ptr<TDataBuffer> chunk = NewChunk();
            if (!chunk) {
                ResultCode = ecNoMem;
                d.StopThreads.store(true);
                break;
            }
            chunk->Filled = std::min(kChunkSize, n - offset);
            std::memcpy(chunk->Bytes(), piece.data() + offset,
                        static_cast<std::size_t>(chunk->Filled));
            chunks.push_back(std::move(chunk));
        }
        d.ReceiveQueue.AppendAll(chunks); // the buffers made, also when one could not be
    }
}

// ---- Write thread -------------------------------------------------------------------------------

std::int32_t TWriteThread::AwaitOverlapped(platform::Overlapped& overlapped) {
    TWin32Dispatcher& d = Owner();
    const std::uint32_t wait = platform::WaitAny(
        {overlapped.hEvent, &d.FlushRequest, &d.StopThreads.Raised()}, platform::INFINITE);

    if (wait == platform::WAIT_OBJECT_0) {
        std::uint32_t written = 0;
        if (platform::GetOverlappedResult(d.DeviceHandle(), &overlapped, &written, true)) {
            overlapped.hEvent->Reset();
            return static_cast<std::int32_t>(written);
        }
        d.LastSystemError.store(LastError());
        return ecDeviceWrite;
    }
    // A flush, or a stop noticed while the write is pending (which counts as a write failure):
    // the write is given up before its block is.
    const std::uint32_t error = LastError();
    AbandonPending(overlapped);
    if (wait == platform::WAIT_OBJECT_0 + 1)
        return kFlushed;
    d.LastSystemError.store(error);
    platform::SetLastError(error);
    return ecDeviceWrite;
}

bool TWriteThread::OutputWaiting() {
    TWin32Dispatcher& d = Owner();
    std::lock_guard<std::recursive_mutex> guard(d.OutputLock);
    return d.OutRing && d.OutputRing.Count() > 0;
}

std::int32_t TWriteThread::DrainOutput() {
    TWin32Dispatcher& d = Owner();
    for (;;) {
        std::vector<std::uint8_t> block;
        {
            // Whether anything waits is asked under the same hold of the lock as the copy: a
            // purge in between would otherwise leave an empty ring that reads as a full one.
            std::lock_guard<std::recursive_mutex> guard(d.OutputLock);
            if (!OutputWaiting())
                return ecOK;
            d.OutputRing.TakeAll(block); // the ring is empty again, both positions at 0
        }

        std::size_t sent = 0;
        while (sent < block.size()) {
            std::uint32_t written = 0;
            const auto rest = static_cast<std::uint32_t>(block.size() - sent);
            if (platform::WriteFile(d.DeviceHandle(), block.data() + sent, rest, &written,
                                    &Record)) {
                sent += written;
                continue;
            }
            if (LastError() != platform::ERROR_IO_PENDING) {
                d.LastSystemError.store(LastError());
                return ecDeviceWrite;
            }
            const std::int32_t r = AwaitOverlapped(Record);
            if (r == kFlushed) {
                // A flush: the rest of the block is dropped.
                d.AckEvent.Set();
                return ecOK;
            }
            if (r == ecDeviceWrite) {
                if (LastError() == platform::ERROR_OPERATION_ABORTED)
                    return ecOK; // a purge aborted the write
                d.LastSystemError.store(LastError());
                return ecDeviceWrite;
            }
            sent += static_cast<std::size_t>(r);
        }
    }
    return ecOK;
}

void TWriteThread::Run() {
    TWin32Dispatcher& d = Owner();

    while (!Stopping()) {
        const std::uint32_t wait = platform::WaitAny(
            {&d.OutputReady, &d.FlushRequest, &d.StopThreads.Raised()}, platform::INFINITE);
        if (wait == platform::WAIT_OBJECT_0) {
            if (d.StopThreads.load())
                continue;
            if (DrainOutput() != ecOK) {
                const std::uint32_t error = LastError();
                if (error != platform::ERROR_INVALID_HANDLE) {
                    d.LastSystemError.store(error);
                    ResultCode = ecDeviceWrite;
                }
                d.StopThreads.store(true);
            }
        } else if (wait == platform::WAIT_OBJECT_0 + 1) {
            d.AckEvent.Set();
        } else if (wait != platform::WAIT_OBJECT_0 + 2) { // + 2: the stop, seen by the loop
            d.LastSystemError.store(LastError());
            ResultCode = ecDeviceWrite;
            d.StopThreads.store(true);
        }
    }
}

} // namespace mbus::serial

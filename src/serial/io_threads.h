// The three I/O threads of an overlapped dispatcher: the status thread waits for comm events and
// queues line and modem events; the read thread keeps a read pending on the device and queues
// what it brings in buffers of up to 256 bytes, holding back while the queue is full; the write
// thread empties the output ring onto the device. Every wait also ends at the stop request. Each
// ends with a result code: ecOK, ecDeviceWrite (write failure), ecDeviceRead (read or comm-event
// failure) or ecNoMem (a queue buffer could not be made).
#pragma once

#include <cstdint>

#include "platform/comm_device.h"
#include "serial/codes.h"
#include "serial/dispatcher_thread.h"
#include "serial/win32_dispatcher.h"

namespace mbus::serial {

// The comm events the status thread watches: received bytes and every line and modem event.
// The older platform family's drivers also report the ring's trailing edge.
inline constexpr std::uint32_t kWatchedEvents =
    platform::EV_RXCHAR | platform::EV_CTS | platform::EV_DSR | platform::EV_RLSD |
    platform::EV_BREAK | platform::EV_ERR | platform::EV_RING;

class TWin32Thread : public TDispatcherThread {
public:
    TWin32Dispatcher& Owner() const { return static_cast<TWin32Dispatcher&>(Dispatcher()); }

protected:
    explicit TWin32Thread(TWin32Dispatcher& dispatcher) : TDispatcherThread(dispatcher) {}

    // Counts the thread in, runs Run with the thread's overlapped record ready, and reports
    // ResultCode to the dispatcher when Run returns; an exception out of Run ends the thread with
    // ecNoMem and stops the others.
    void Execute() final;
    // The thread's loop, until a stop is asked; a failure sets ResultCode and asks for the stop.
    virtual void Run() = 0;

    // Waits for an overlapped operation until it completes or a stop is asked:
    // the bytes transferred, 0 when a stop cut the wait short, ecDeviceRead on failure.
    virtual std::int32_t AwaitOverlapped(platform::Overlapped& overlapped);

    bool Stopping() const;

    // Cancels an operation still pending with `overlapped` and waits until the device has let go
    // of it.
    void AbandonPending(platform::Overlapped& overlapped);

    // The thread's own overlapped record with its manual-reset event.
    platform::Event OverlappedEvent{true, false};
    platform::Overlapped Record;
    std::int32_t ResultCode = ecOK;
};

class TReadThread : public TWin32Thread {
public:
    explicit TReadThread(TWin32Dispatcher& dispatcher) : TWin32Thread(dispatcher) {}

    // Reads up to `size` bytes: the count read (possibly 0) or a negative code.
    std::int32_t ReadChunk(std::uint8_t* storage, std::uint32_t size);

protected:
    void Run() override;
};

class TWriteThread : public TWin32Thread {
public:
    explicit TWriteThread(TWin32Dispatcher& dispatcher) : TWin32Thread(dispatcher) {}

    // Whether the output ring holds bytes (takes OutputLock, which the caller may hold already).
    bool OutputWaiting();
    // Sends everything waiting in the ring, block by block: ecOK, or ecDeviceWrite on a write
    // failure. (RS-485 on the older platform family would poll the UART's transmitter-empty bit
    // after each block and then drop RTS; with no port input here, output in that mode is refused
    // before it reaches the ring: QueueBlock reports "Base address not set".)
    std::int32_t DrainOutput();

protected:
    // AwaitOverlapped's result when a flush request ended the wait.
    static constexpr std::int32_t kFlushed = -1;

    void Run() override;
    // Waits for a pending write or a flush request: the bytes written, kFlushed or
    // ecDeviceWrite.
    std::int32_t AwaitOverlapped(platform::Overlapped& overlapped) override;
};

class TStatusThread : public TWin32Thread {
public:
    explicit TStatusThread(TWin32Dispatcher& dispatcher) : TWin32Thread(dispatcher) {}

    std::uint32_t WatchMask = 0;

    // Waits for the next comm event into `events`: >= 0 on success, ecDeviceRead on failure.
    std::int32_t AwaitLineEvent(std::uint32_t& events);

protected:
    void Run() override;
};

} // namespace mbus::serial

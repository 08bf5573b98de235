// The three I/O threads of an overlapped dispatcher: the status thread waits for comm events,
// wakes the read thread when bytes arrive and queues line and modem events; the read thread reads
// the device in chunks of up to 256 bytes into the receive queue; the write thread empties the
// output ring onto the device. Each ends with a result code: 0, -160 (write failure), -161 (read
// or comm-event failure) or -13868 (a queue buffer could not be made).
#pragma once

#include <cstdint>

#include "platform/comm_device.h"
#include "serial/dispatcher_thread.h"
#include "serial/win32_dispatcher.h"

namespace mbus::serial {

// A comm event that only the older platform family's drivers accept: the ring's trailing edge.
inline constexpr std::uint32_t EV_RING_TRAILING = 0x2000;

class TWin32Thread : public TDispatcherThread {
public:
    TWin32Dispatcher& Owner() const { return static_cast<TWin32Dispatcher&>(Dispatcher()); }

protected:
    explicit TWin32Thread(TWin32Dispatcher& dispatcher) : TDispatcherThread(dispatcher) {}

    // Waits for an overlapped operation in 100 ms steps until it completes or a stop is asked:
    // the bytes transferred, 0 when a stop cut the wait short, -161 on failure.
    virtual std::int32_t AwaitOverlapped(platform::Overlapped& overlapped);

    bool Stopping() const;

    // Cancels an operation still pending with `overlapped` and waits until the device has let go
    // of it.
    void AbandonPending(platform::Overlapped& overlapped);

    // The thread's own overlapped record with its manual-reset event.
    platform::Event OverlappedEvent{true, false};
    platform::Overlapped Record;
    std::int32_t ResultCode = 0;
};

class TReadThread : public TWin32Thread {
public:
    explicit TReadThread(TWin32Dispatcher& dispatcher) : TWin32Thread(dispatcher) {}

    // Reads up to `size` bytes: the count read (possibly 0) or a negative code.
    std::int32_t ReadChunk(std::uint8_t* storage, std::uint32_t size);

protected:
    void Execute() override;
};

class TWriteThread : public TWin32Thread {
public:
    explicit TWriteThread(TWin32Dispatcher& dispatcher) : TWin32Thread(dispatcher) {}

    // Whether the output ring holds bytes.
    bool OutputWaiting();
    // Sends everything waiting in the ring, block by block: 0, or -160 on a write failure.
    std::int32_t DrainOutput();

protected:
    void Execute() override;
    // Waits for a pending write or a flush request: the bytes written, -1 for a flush, -160.
    std::int32_t AwaitOverlapped(platform::Overlapped& overlapped) override;
};

class TStatusThread : public TWin32Thread {
public:
    explicit TStatusThread(TWin32Dispatcher& dispatcher) : TWin32Thread(dispatcher) {}

    std::uint32_t WatchMask = 0;

    // Waits for the next comm event into `events`: >= 0 on success, -161 on failure.
    std::int32_t AwaitLineEvent(std::uint32_t& events);

protected:
    void Execute() override;
};

} // namespace mbus::serial

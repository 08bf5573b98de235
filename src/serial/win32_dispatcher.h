// TWin32Dispatcher: the dispatcher of a serial device opened for overlapped I/O. It implements the
// device operations the dispatcher core leaves abstract (open and probe, line settings, line
// errors, purging, the output ring, the hand-over of received bytes) and starts and stops the
// read, write and status threads beside the dispatcher thread.
#pragma once

#include "serial/base_dispatcher.h"

namespace mbus::serial {

class TWin32Dispatcher : public TBaseDispatcher {
public:
    // `owner` may be none (a short-lived dispatcher that only probes for a device).
    explicit TWin32Dispatcher(TComponent* owner);
    ~TWin32Dispatcher() override;

    std::int32_t ApplyLineFunction(std::uint32_t function) override;
    std::int32_t DiscardQueued(std::int32_t which) override;
    std::int32_t TakeLineErrors(platform::COMSTAT& status) override;
    std::int32_t NoteReceiveFailure(std::int32_t code) override;
    std::int32_t ReadLineSettings(platform::DCB& settings) override;
    std::int32_t TakeReceived(std::uint8_t* destination, std::int32_t wanted) override;
    std::int32_t ApplyLineSettings(const platform::DCB& settings) override;
    std::int32_t QueueOutput(const std::uint8_t* source, std::int32_t count) override;
    bool PeekEventMask(std::uint32_t& mask) override;
    bool SizeDriverQueues(std::uint32_t receiveSize, std::uint32_t transmitSize) override;
    // Starts the read, dispatcher, write and status threads, in that order, each with a
    // hand-shake of up to 3000 ms. Throws Exception("Dispatcher already started.") when they run.
    void LaunchThreads() override;
    void ReleaseEvents() override;
    std::int32_t OutputPending() override;
    std::int32_t ReceivePending() override;
    platform::CommHandle OpenDevice(const std::string& name, std::uint32_t receiveSize,
                                    std::uint32_t transmitSize) override;
    // Stops the threads (status, write, read, dispatcher; every wait serves window messages) and
    // closes the device.
    std::int32_t ShutDevice() override;
    bool ProbeDevice(const std::string& name) override;
    std::int32_t YieldSlice() override;
};

} // namespace mbus::serial

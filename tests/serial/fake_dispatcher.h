// A dispatcher whose device is a fake in memory: line settings, modem lines and line errors are
// plain fields the tests set and read, received data is whatever the test appends to the
// receive queue, and output stays in the ring. Only the dispatcher thread runs, so the dispatch
// pass, the triggers and the deliveries are the real ones; the receive hand-over and the output
// ring are the overlapped dispatcher's own.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/message_window.h"
#include "serial/dispatcher_thread.h"
#include "serial/win32_dispatcher.h"

namespace mbus::serial::testing {

class FakeDispatcher : public TWin32Dispatcher {
public:
    explicit FakeDispatcher(TComponent* owner = nullptr) : TWin32Dispatcher(owner) {
        Device.BaudRate = 9600;
        Device.ByteSize = 8;
    }
    ~FakeDispatcher() override { DestroyDispatcher(); }

    // The device as the fake keeps it.
    platform::DCB Device;
    int ApplyCount = 0;
    std::vector<std::uint32_t> LineFunctions;
    std::int32_t LineFunctionResult = 0;
    std::uint32_t PendingLineErrors = 0;
    std::uint32_t ModemStatus = 0;
    bool ThreadsLaunched = false;

    // Makes the input buffer and an output ring of `outSize` bytes without opening the device or
    // starting a thread, for tests of the buffer operations alone.
    void PrepareBuffers(std::uint32_t outSize = 4096, std::uint32_t inSize = 4096) {
        std::lock_guard<std::recursive_mutex> input(InputLock);
        std::lock_guard<std::recursive_mutex> output(OutputLock);
        InBuffer = std::make_unique<std::uint8_t[]>(kInBufferSize);
        OutRing = std::make_unique<std::uint8_t[]>(outSize);
        OutRingSize = outSize;
        ReceiveSize = inSize;
    }

    // Appends one data buffer holding `bytes` to the receive queue.
    void Receive(const std::string& bytes) {
        auto buffer = std::make_unique<TDataBuffer>(static_cast<std::int32_t>(bytes.size()));
        std::memcpy(buffer->Bytes(), bytes.data(), bytes.size());
        buffer->Filled = static_cast<std::int32_t>(bytes.size());
        ReceiveQueue.Append(std::move(buffer));
    }

    std::int32_t ApplyLineFunction(std::uint32_t function) override {
        LineFunctions.push_back(function);
        return LineFunctionResult;
    }
    std::int32_t DiscardQueued(std::int32_t which) override {
        if (which == kDiscardInput)
            ReceiveQueue.Clear();
        return 1;
    }
    std::int32_t TakeLineErrors(platform::COMSTAT& status) override {
        status.cbOutQue = static_cast<std::uint32_t>(OutputPending());
        const std::uint32_t errors = PendingLineErrors;
        PendingLineErrors = 0;
        return static_cast<std::int32_t>(errors);
    }
    std::int32_t NoteReceiveFailure(std::int32_t) override { return 0; }
    std::int32_t ReadLineSettings(platform::DCB& settings) override {
        settings = Device;
        return 0;
    }
    std::int32_t ApplyLineSettings(const platform::DCB& settings) override {
        Device = settings;
        ++ApplyCount;
        return 0;
    }
    bool SizeDriverQueues(std::uint32_t, std::uint32_t) override { return true; }
    void LaunchThreads() override {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        ThreadsStarted.store(true);
        StopThreads.store(false);
        auto* thread = new TDispThread(*this);
        DispatchWorker = thread;
        thread->Start();
        ThreadsLaunched = true;
    }
    void ReleaseEvents() override {
        if (ThreadsStarted.load())
            ShutDevice();
        EventsCreated.store(false);
    }
    platform::CommHandle OpenDevice(const std::string&, std::uint32_t, std::uint32_t) override {
        DeviceHandle_.store(1);
        return 1;
    }
    std::int32_t ShutDevice() override {
        if (Closing.exchange(true))
            return 0;
        StopThreads.store(true);
        for (;;) {
            {
                std::lock_guard<std::recursive_mutex> guard(ControlLock);
                if (DispatchWorker == nullptr)
                    break;
            }
            if (!platform::PumpOneMessage())
                platform::WaitForMessage(1);
        }
        DeviceHandle_.store(-1);
        Closing.store(false);
        return 0;
    }

protected:
    bool QueryModemStatus(std::uint32_t& status) override {
        status = ModemStatus;
        return true;
    }
};

} // namespace mbus::serial::testing

#include "serial/win32_dispatcher.h"

#include "platform/clock.h"
#include "platform/message_window.h"
#include "platform/system_error.h"
#include "serial/codes.h"
#include "serial/exceptions.h"
#include "serial/io_threads.h"
#include "serial/tick_timer.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace mbus::serial {

namespace {

constexpr std::uint32_t kHandshakeMs = 3000;
constexpr std::uint32_t kFlushAckMs = 5000;
constexpr std::uint32_t kDispatcherStopTicks = 36;
// The stops of the status, write and read threads have no time limit of their own; a thread
// that has not ended after this long is left to end on its own (it sees the closed device).
constexpr std::uint32_t kThreadStopLimitMs = 10000;

// Clears `flag` when the scope ends, whatever way it is left.
class ClearOnExit {
public:
    explicit ClearOnExit(std::atomic<bool>& flag) : Flag_(flag) {}
    ~ClearOnExit() { Flag_.store(false); }
    ClearOnExit(const ClearOnExit&) = delete;
    ClearOnExit& operator=(const ClearOnExit&) = delete;

private:
    std::atomic<bool>& Flag_;
};

} // namespace

TWin32Dispatcher::TWin32Dispatcher(TComponent* owner) : TBaseDispatcher(owner) {}

TWin32Dispatcher::~TWin32Dispatcher() {
    DestroyDispatcher();
}

std::int32_t TWin32Dispatcher::ApplyLineFunction(std::uint32_t function) {
    platform::EscapeCommFunction(DeviceHandle(), function);
    return ecOK;
}

std::int32_t TWin32Dispatcher::DiscardQueued(std::int32_t which) {
    if (which == kDiscardOutput) {
        {
            std::lock_guard<std::recursive_mutex> guard(ControlLock);
            if (WriteWorker == nullptr)
                return 0;
        }
        {
            std::lock_guard<std::recursive_mutex> guard(OutputLock);
            OutputRing.Clear();
        }
        const bool purged =
            platform::PurgeComm(DeviceHandle(), platform::PURGE_TXABORT | platform::PURGE_TXCLEAR);
        FlushRequest.Set();
        // A write thread that is ending (the threads were asked to stop) acknowledges nothing.
        platform::WaitAny({&AckEvent, &StopThreads.Raised()}, kFlushAckMs);
        return purged ? 1 : 0;
    }
    if (which == kDiscardInput) {
        const bool purged =
            platform::PurgeComm(DeviceHandle(), platform::PURGE_RXABORT | platform::PURGE_RXCLEAR);
        ReceiveQueue.Clear();
        return purged ? 1 : 0;
    }
    return 0;
}

std::int32_t TWin32Dispatcher::TakeLineErrors(platform::COMSTAT& status) {
    std::uint32_t errors = 0;
    if (!platform::ClearCommError(DeviceHandle(), &errors, &status))
        errors = 0;
    status.cbOutQue = static_cast<std::uint32_t>(OutputPending());
    return static_cast<std::int32_t>(errors);
}

std::int32_t TWin32Dispatcher::NoteReceiveFailure(std::int32_t) {
    return 0;
}

std::int32_t TWin32Dispatcher::ReadLineSettings(platform::DCB& settings) {
    return platform::GetCommState(DeviceHandle(), &settings) ? ecOK : ecFailed;
}

std::int32_t TWin32Dispatcher::ApplyLineSettings(const platform::DCB& settings) {
    if (platform::SetCommState(DeviceHandle(), &settings))
        return ecOK;
    return -static_cast<std::int32_t>(platform::LastError());
}

// ---- Output ring --------------------------------------------------------------------------------

std::int32_t TWin32Dispatcher::OutputPending() {
    std::lock_guard<std::recursive_mutex> guard(OutputLock);
    return static_cast<std::int32_t>(OutputRing.Count());
}

std::int32_t TWin32Dispatcher::QueueOutput(const std::uint8_t* source, std::int32_t count) {
    if (count <= 0)
        return 0;
    std::uint32_t queued;
    {
        std::lock_guard<std::recursive_mutex> guard(OutputLock);
        queued = OutputRing.Put(source, static_cast<std::uint32_t>(count));
    }
    OutputReady.Set();
    return static_cast<std::int32_t>(queued);
}

bool TWin32Dispatcher::PeekEventMask(std::uint32_t& mask) {
    mask = 0;
    return true;
}

bool TWin32Dispatcher::SizeDriverQueues(std::uint32_t receiveSize, std::uint32_t transmitSize) {
    return platform::SetupComm(DeviceHandle(), receiveSize, transmitSize);
}

// ---- Receive hand-over --------------------------------------------------------------------------

std::int32_t TWin32Dispatcher::ReceivePending() {
    TIOBuffer* head = ReceiveQueue.ClaimHead();
    if (head == nullptr)
        return 0;
    std::int32_t count = 0;
    if (head->BufferKind() == TIOBuffer::Kind::Data) {
        const auto* data = static_cast<const TDataBuffer*>(head);
        count = data->Filled - data->Taken;
    }
    ReceiveQueue.ReleaseClaim(head);
    return count;
}

std::int32_t TWin32Dispatcher::TakeReceived(std::uint8_t* destination, std::int32_t wanted) {
    std::int32_t remaining = wanted;
    while (remaining > 0) {
        TIOBuffer* head = ReceiveQueue.ClaimHead();
        if (head == nullptr)
            break;
        if (head->BufferKind() != TIOBuffer::Kind::Data) {
            // A status buffer holds back the data behind it until the dispatch pass removes it.
            ReceiveQueue.ReleaseClaim(head);
            break;
        }
        auto* data = static_cast<TDataBuffer*>(head);
        const std::int32_t k = std::min(remaining, data->Filled - data->Taken);
        std::memcpy(destination, data->Bytes() + data->Taken, static_cast<std::size_t>(k));
        data->Taken += k;
        destination += k;
        remaining -= k;
        if (data->Taken < data->Filled)
            ReceiveQueue.ReleaseClaim(head);
        else
            ReceiveQueue.RemoveHead();
    }
    return wanted - remaining;
}

// ---- Opening ------------------------------------------------------------------------------------

platform::CommHandle TWin32Dispatcher::OpenDevice(const std::string& name, std::uint32_t,
                                                  std::uint32_t) {
    const platform::CommHandle handle = platform::CreateFile(name);
    if (handle == platform::INVALID_HANDLE_VALUE)
        return ecFailed;
    DeviceHandle_.store(handle);
    return handle;
}

bool TWin32Dispatcher::ProbeDevice(const std::string& name) {
    std::string bare = name;
    const auto isPrefix = [](const std::string& text) {
        return text.size() >= 4 && text[0] == '\\' && text[1] == '\\' && text[2] == '.' &&
               text[3] == '\\';
    };
    if (isPrefix(bare))
        bare.erase(0, 4);

    constexpr std::uint32_t kRecordSize = 52;
    std::vector<std::uint8_t> record(kRecordSize, 0);
    std::uint32_t size = kRecordSize;
    std::memcpy(record.data(), &size, sizeof size);
    bool found = platform::GetDefaultCommConfig(
        bare, reinterpret_cast<platform::COMMCONFIG*>(record.data()), &size);
    if (!found && platform::LastError() == platform::ERROR_INSUFFICIENT_BUFFER &&
        size > kRecordSize) {
        record.assign(size, 0);
        const std::uint32_t recordSize = kRecordSize;
        std::memcpy(record.data(), &recordSize, sizeof recordSize);
        found = platform::GetDefaultCommConfig(
            bare, reinterpret_cast<platform::COMMCONFIG*>(record.data()), &size);
    }
    return found;
}

// ---- Starting and stopping ----------------------------------------------------------------------

void TWin32Dispatcher::LaunchThreads() {
    std::lock_guard<std::recursive_mutex> guard(ControlLock);
    if (ThreadsStarted.load())
        throw Exception("Dispatcher already started.");
    ThreadsStarted.store(true);
    StopThreads.store(false);

    // Each thread is recorded before it runs, so its end always finds its own reference.
    const auto start = [this](TDispatcherThread* thread, TDispatcherThread*& reference) {
        reference = thread;
        thread->SetPriority(PriorityBase + 3);
        if (!thread->Start()) {
            reference = nullptr;
            return;
        }
        platform::WaitOne(AckEvent, kHandshakeMs);
    };
    start(new TReadThread(*this), ReadWorker);
    start(new TDispThread(*this), DispatchWorker);
    start(new TWriteThread(*this), WriteWorker);
    start(new TStatusThread(*this), StatusWorker);
}

void TWin32Dispatcher::ReleaseEvents() {
    if (ThreadsStarted.load())
        ShutDevice();
    EventsCreated.store(false);
}

std::int32_t TWin32Dispatcher::ShutDevice() {
    {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        if (Closing.load())
            return ecOK;
        Closing.store(true);
    }
    ClearOnExit clearClosing(Closing);

    // Serves window messages until `worker` has ended or `expired` says the wait is over.
    const auto waitFor = [this](TDispatcherThread* const& worker, const auto& expired) {
        for (;;) {
            {
                std::lock_guard<std::recursive_mutex> guard(ControlLock);
                if (worker == nullptr)
                    return true;
            }
            if (expired())
                return false;
            if (!platform::PumpOneMessage())
                platform::WaitForMessage(1);
        }
    };
    const auto running = [this](TDispatcherThread* const& worker) {
        std::lock_guard<std::recursive_mutex> guard(ControlLock);
        return worker != nullptr;
    };
    const auto afterMs = [](std::uint32_t limitMs) {
        const std::uint32_t start = platform::TickCount();
        return [start, limitMs] { return platform::TickCount() - start >= limitMs; };
    };

    if (ThreadsStarted.load()) {
        StopThreads.store(true);
        if (running(StatusWorker)) {
            platform::SetCommMask(DeviceHandle(), 0); // completes the pending event wait
            waitFor(StatusWorker, afterMs(kThreadStopLimitMs));
        }
        if (running(WriteWorker)) {
            FlushRequest.Set();
            waitFor(WriteWorker, afterMs(kThreadStopLimitMs));
        }
        if (running(ReadWorker)) {
            AckEvent.Reset();
            waitFor(ReadWorker, afterMs(kThreadStopLimitMs));
        }
        // When the dispatcher thread itself gets here (releasing the buffers as it ends after an
        // I/O failure), its reference is already cleared, so it never waits for itself.
        if (running(DispatchWorker)) {
            TickTimer timer;
            ArmTickTimer(timer, kDispatcherStopTicks);
            if (!waitFor(DispatchWorker, [&timer] { return TickTimerDone(timer); })) {
                ArmTickTimer(timer, kDispatcherStopTicks);
                waitFor(DispatchWorker, [&timer] { return TickTimerDone(timer); });
            }
        }
    }

    const platform::CommHandle handle = DeviceHandle();
    if (handle < 0)
        return ecOK;
    if (!platform::CloseHandle(handle))
        return ecFailed;
    DeviceHandle_.store(platform::INVALID_HANDLE_VALUE);
    return ecOK;
}

std::int32_t TWin32Dispatcher::YieldSlice() {
    platform::Sleep(0);
    return ecOK;
}

} // namespace mbus::serial

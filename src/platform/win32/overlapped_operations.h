// The system's OVERLAPPED records behind the layer's Overlapped records. An operation that goes
// pending keeps its native record here, by the caller's record, until its result is taken
// (GetOverlappedResult, CancelIoEx) or the device is closed; the result is then stored in the
// caller's record, so it can be taken again later.
#pragma once

#include "platform/comm_device.h"
#include "platform/win32/windows_api.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace mbus::platform::win32 {

// One open comm device.
struct CommDevice {
    HANDLE Handle = nullptr;
    std::atomic<bool> Closing{false}; // operations it aborts complete with ERROR_INVALID_HANDLE
    // ReadIntervalTimeout MAXDWORD with both read totals 0: reads return at once.
    std::atomic<bool> ReadsReturnAtOnce{false};
    // The total time-out constant of first-byte reads that Wine's driver is given in its own
    // terms, or 0 when the driver has the caller's time-outs as they are.
    std::atomic<std::uint32_t> TranslatedFirstByteConstant{0};
    // Line errors that the device's own queue checks took from the driver, for the next
    // ClearCommError.
    std::atomic<std::uint32_t> SavedErrors{0};
};

// One pending operation: its native record and the device it runs on. An event wait keeps the
// events word the system writes and its own handle of the caller's event here, so a wait that
// the system cannot cancel (Wine) may complete after the caller has let go of both.
struct NativeOperation {
    NativeOperation() = default;
    NativeOperation(const NativeOperation&) = delete;
    NativeOperation& operator=(const NativeOperation&) = delete;
    ~NativeOperation();

    OVERLAPPED Native{};
    std::shared_ptr<CommDevice> Device;
    DWORD Events = 0;                      // what the system reports to an event wait
    std::uint32_t* CallerEvents = nullptr; // where the caller wants it, until it lets go
    HANDLE OwnEvent = nullptr;             // a duplicate of the caller's event, or none
    std::atomic<bool> Abandoned{false};    // its record was completed without the system
};

// A native record for an operation about to start with `record` on `device`: its event is the
// record's, its result still pending.
std::shared_ptr<NativeOperation> BeginOperation(Overlapped& record,
                                                std::shared_ptr<CommDevice> device);

// After the system call that started it: `pending` keeps the operation until its result is
// taken; otherwise it is over, with `error` (0 for success) and `transferred` bytes.
void StartedOperation(Overlapped& record, const std::shared_ptr<NativeOperation>& operation,
                      bool pending, std::uint32_t error, std::uint32_t transferred);

// Makes `operation` signal a handle of its own to the caller's event (for event waits).
bool UseOwnEventHandle(NativeOperation& operation);

// Lets go of a pending operation that the system could not cancel: its record completes with
// `error` now (and its event is set), and the operation lives on, detached, until the system
// completes it.
void AbandonOperation(Overlapped& record, std::shared_ptr<NativeOperation> operation,
                      std::uint32_t error);

// The pending operation of `record`, or none.
std::shared_ptr<NativeOperation> PendingOperation(Overlapped& record);

// The operations pending on `device`, with their records.
struct PendingOnDevice {
    Overlapped* Record;
    std::shared_ptr<NativeOperation> Operation;
};
std::vector<PendingOnDevice> OperationsOn(const CommDevice& device);

// Stores the native result of a finished operation in `record` and forgets the operation. An
// operation aborted because its device was closed reports ERROR_INVALID_HANDLE. Returns the
// error stored (0 for success).
std::uint32_t FinishOperation(Overlapped& record, const std::shared_ptr<NativeOperation>& operation,
                              bool succeeded, std::uint32_t nativeError, std::uint32_t transferred);

} // namespace mbus::platform::win32

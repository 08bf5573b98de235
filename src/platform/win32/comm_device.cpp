#include "platform/comm_device.h"

#include "platform/comm_device_arguments.h"
#include "platform/comm_handle_table.h"
#include "platform/system_error.h"
#include "platform/win32/overlapped_operations.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace mbus::platform {
namespace {

using win32::CommDevice;
using win32::NativeOperation;

// The layer's records are the system's, field for field.
static_assert(sizeof(DCB) == sizeof(::DCB) && offsetof(DCB, XonLim) == offsetof(::DCB, XonLim) &&
              offsetof(DCB, EvtChar) == offsetof(::DCB, EvtChar));
static_assert(sizeof(COMMTIMEOUTS) == sizeof(::COMMTIMEOUTS));
static_assert(sizeof(COMSTAT) == sizeof(::COMSTAT));
static_assert(sizeof(COMMCONFIG) == sizeof(::COMMCONFIG));

// Copies one of the layer's records to the system's twin or back.
template <typename To, typename From> void CopyRecord(To& to, const From& from) {
    static_assert(sizeof(To) == sizeof(From) && std::is_trivially_copyable_v<To> &&
                  std::is_trivially_copyable_v<From>);
    std::memcpy(static_cast<void*>(&to), &from, sizeof to);
}

// The window system loads at start-up, not while the first port's events are in flight: Wine
// was seen to hang when user32 came in after a few comm event waits had completed.
const HMODULE kWindowSystem = ::LoadLibraryW(L"user32.dll");

using DeviceTable = CommHandleTable<CommDevice>;

DeviceTable& Devices() {
    return DeviceTable::Instance();
}

template <typename Operation> bool OnDevice(CommHandle handle, Operation operation) {
    return Devices().On(handle, std::move(operation));
}


// The system's name of a device: "COM<n>" becomes "\\.\COM<n>" (needed from COM10 on), other
// names stay as they are.
std::string DevicePathOf(std::string_view name) {
    const bool comName = name.size() > 3 && (name[0] == 'C' || name[0] == 'c') &&
                         (name[1] == 'O' || name[1] == 'o') && (name[2] == 'M' || name[2] == 'm');
    return comName ? "\\\\.\\" + std::string(name) : std::string(name);
}

// An overlapped transfer or event wait: the system call `start` with the native operation, then
// the layer's completion rules.
template <typename Start>
bool Overlap(CommHandle handle, Overlapped* overlapped, std::uint32_t* count, Start start) {
    if (overlapped == nullptr || overlapped->hEvent == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    const auto device = Devices().Find(handle);
    if (!device)
        return FailWith(ERROR_INVALID_HANDLE);
    const auto operation = win32::BeginOperation(*overlapped, device);
    DWORD done = 0;
    if (start(device->Handle, &done, *operation)) {
        win32::StartedOperation(*overlapped, operation, false, ERROR_SUCCESS, done);
        if (count != nullptr)
            *count = done;
        return true;
    }
    const DWORD error = ::GetLastError();
    win32::StartedOperation(*overlapped, operation, error == ERROR_IO_PENDING, error, 0);
    return FailWith(error);
}

// The bytes waiting in the device's input queue. The system's only way to ask also clears the
// line errors: they are kept for the caller's next ClearCommError.
// Wine, rather than Windows, runs this program (its ntdll says so through an export of its own).
bool RunsOnWine() {
    static const bool wine = [] {
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

// The read time-outs "return at once with what is there, or wait for the first byte and return
// with it": interval and multiplier MAXDWORD, a constant between 0 and MAXDWORD.
bool AreFirstByteTimeouts(const COMMTIMEOUTS& timeouts) {
    return timeouts.ReadIntervalTimeout == MAXDWORD &&
           timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
           timeouts.ReadTotalTimeoutConstant != 0 && timeouts.ReadTotalTimeoutConstant != MAXDWORD;
}

bool BytesWaiting(CommDevice& device, DWORD& waiting) {
    DWORD errors = 0;
    ::COMSTAT status{};
    if (!::ClearCommError(device.Handle, &errors, &status))
        return false;
    device.SavedErrors.fetch_or(errors);
    waiting = status.cbInQue;
    return true;
}

} // namespace

CommHandle CreateFile(std::string_view name) {
    const std::string path = DevicePathOf(name);
    const HANDLE native = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (native == win32::InvalidNativeHandle())
        return INVALID_HANDLE_VALUE;
    // Files and other devices open too; only one with a device control block is a serial one.
    ::DCB probe{};
    probe.DCBlength = sizeof probe;
    if (!::GetCommState(native, &probe)) {
        ::CloseHandle(native);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto device = std::make_shared<CommDevice>();
    device->Handle = native;
    return Devices().Add(std::move(device));
}

// The system's error number says what went wrong; there is nothing to add.
std::string TakeOpenFailureCause() {
    return {};
}

bool CloseHandle(CommHandle handle) {
    const auto device = Devices().Remove(handle);
    if (!device)
        return FailWith(ERROR_INVALID_HANDLE);
    // Pending operations end first, with ERROR_INVALID_HANDLE, so no system call still writes
    // into a record or buffer once the handle is gone.
    device->Closing.store(true);
    ::CancelIoEx(device->Handle, nullptr);
    for (const win32::PendingOnDevice& pending : win32::OperationsOn(*device)) {
        DWORD transferred = 0;
        if (::GetOverlappedResultEx(device->Handle, &pending.Operation->Native, &transferred, 200,
                                    FALSE)) {
            win32::FinishOperation(*pending.Record, pending.Operation, true, 0, transferred);
            continue;
        }
        const DWORD error = ::GetLastError();
        if (error == WAIT_TIMEOUT || error == ERROR_IO_INCOMPLETE)
            win32::AbandonOperation(*pending.Record, pending.Operation, ERROR_INVALID_HANDLE);
        else
            win32::FinishOperation(*pending.Record, pending.Operation, false, error, transferred);
    }
    if (!::CloseHandle(device->Handle))
        return false;
    return true;
}

bool GetCommState(CommHandle handle, DCB* dcb) {
    if (dcb == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](CommDevice& device) {
        ::DCB native{};
        native.DCBlength = sizeof native;
        if (!::GetCommState(device.Handle, &native))
            return false;
        CopyRecord(*dcb, native);
        return true;
    });
}

bool SetCommState(CommHandle handle, const DCB* dcb) {
    if (dcb == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](CommDevice& device) {
        ::DCB native{};
        CopyRecord(native, *dcb);
        native.DCBlength = sizeof native;
        return ::SetCommState(device.Handle, &native) != FALSE;
    });
}

bool SetupComm(CommHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) {
    return OnDevice(handle, [&](CommDevice& device) {
        return ::SetupComm(device.Handle, inQueue, outQueue) != FALSE;
    });
}

bool GetCommTimeouts(CommHandle handle, COMMTIMEOUTS* timeouts) {
    if (timeouts == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](CommDevice& device) {
        ::COMMTIMEOUTS native{};
        if (!::GetCommTimeouts(device.Handle, &native))
            return false;
        CopyRecord(*timeouts, native);
        if (const std::uint32_t constant = device.TranslatedFirstByteConstant.load()) {
            timeouts->ReadIntervalTimeout = MAXDWORD;
            timeouts->ReadTotalTimeoutMultiplier = MAXDWORD;
            timeouts->ReadTotalTimeoutConstant = constant;
        }
        return true;
    });
}

bool SetCommTimeouts(CommHandle handle, const COMMTIMEOUTS* timeouts) {
    if (timeouts == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](CommDevice& device) {
        ::COMMTIMEOUTS native{};
        CopyRecord(native, *timeouts);
        // Wine's driver does not know first-byte reads: it waits for the whole count. Its
        // "return at once" reads do what they ask on a terminal (they stay pending until bytes
        // come, then return what is there), so it is given those; the constant's time limit is
        // not kept there.
        const bool translate = RunsOnWine() && AreFirstByteTimeouts(*timeouts);
        if (translate) {
            native.ReadTotalTimeoutMultiplier = 0;
            native.ReadTotalTimeoutConstant = 0;
        }
        if (!::SetCommTimeouts(device.Handle, &native))
            return false;
        device.TranslatedFirstByteConstant.store(translate ? timeouts->ReadTotalTimeoutConstant
                                                           : 0);
        device.ReadsReturnAtOnce.store(timeouts->ReadIntervalTimeout == MAXDWORD &&
                                       timeouts->ReadTotalTimeoutMultiplier == 0 &&
                                       timeouts->ReadTotalTimeoutConstant == 0);
        return true;
    });
}

bool SetCommMask(CommHandle handle, std::uint32_t mask) {
    return OnDevice(handle, [&](CommDevice& device) {
        // The layer's event set is the same everywhere; drivers differ in what else they take.
        if (mask & ~EV_SUPPORTED_MASK)
            return FailWith(ERROR_INVALID_PARAMETER);
        return ::SetCommMask(device.Handle, mask) != FALSE;
    });
}

bool GetCommMask(CommHandle handle, std::uint32_t* mask) {
    if (mask == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](CommDevice& device) {
        DWORD native = 0;
        if (!::GetCommMask(device.Handle, &native))
            return false;
        *mask = native;
        return true;
    });
}

bool WaitCommEvent(CommHandle handle, std::uint32_t* events, Overlapped* overlapped) {
    if (events == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    // The system writes the events into the operation, which outlives the caller's word if the
    // wait cannot be cancelled; the caller's word gets them when the wait completes.
    return Overlap(
        handle, overlapped, nullptr, [&](HANDLE device, DWORD*, NativeOperation& operation) {
            operation.CallerEvents = events;
            if (!win32::UseOwnEventHandle(operation))
                return false;
            return ::WaitCommEvent(device, &operation.Events, &operation.Native) != FALSE;
        });
}

bool ReadFile(CommHandle handle, void* buffer, std::uint32_t count, std::uint32_t* read,
              Overlapped* overlapped) {
    const auto device = Devices().Find(handle);
    if (!device || !device->ReadsReturnAtOnce.load() || overlapped == nullptr ||
        overlapped->hEvent == nullptr) {
        return Overlap(
            handle, overlapped, read, [&](HANDLE native, DWORD* done, NativeOperation& operation) {
                return ::ReadFile(native, buffer, count, done, &operation.Native) != FALSE;
            });
    }
    // A read that returns at once. Wine's driver keeps such a read pending on a
    // pseudo-terminal until bytes come, so the queue is asked first: nothing there completes
    // the read with nothing, and bytes there are read as they are.
    DWORD waiting = 0;
    if (!BytesWaiting(*device, waiting))
        return false;
    if (waiting == 0 || count == 0) {
        win32::StartedOperation(*overlapped, win32::BeginOperation(*overlapped, device), false,
                                ERROR_SUCCESS, 0);
        overlapped->hEvent->Set();
        if (read != nullptr)
            *read = 0;
        return true;
    }
    if (Overlap(handle, overlapped, read,
                [&](HANDLE native, DWORD* done, NativeOperation& operation) {
                    return ::ReadFile(native, buffer, count, done, &operation.Native) != FALSE;
                }))
        return true;
    if (LastError() != ERROR_IO_PENDING)
        return false;
    // The bytes are there: the read completes at once, unless they went meanwhile (a purge);
    // then it stays pending like any other.
    const auto operation = win32::PendingOperation(*overlapped);
    DWORD ignored = 0;
    if (operation &&
        !::GetOverlappedResultEx(device->Handle, &operation->Native, &ignored, 1000, FALSE) &&
        (::GetLastError() == WAIT_TIMEOUT || ::GetLastError() == ERROR_IO_INCOMPLETE))
        return FailWith(ERROR_IO_PENDING);
    std::uint32_t done = 0;
    const bool ok = GetOverlappedResult(handle, overlapped, &done, false);
    if (read != nullptr)
        *read = done;
    return ok;
}

bool WriteFile(CommHandle handle, const void* buffer, std::uint32_t count, std::uint32_t* written,
               Overlapped* overlapped) {
    return Overlap(handle, overlapped, written,
                   [&](HANDLE device, DWORD* done, NativeOperation& operation) {
                       return ::WriteFile(device, buffer, count, done, &operation.Native) != FALSE;
                   });
}

std::uint32_t WaitForOperation(CommHandle /*handle*/, Overlapped* overlapped,
                               std::initializer_list<Event*> others, std::uint32_t timeoutMs) {
    // The system completes the operation into the record's event; the wait is the system's.
    const auto events = OperationWaitList(overlapped, others);
    return events ? WaitAnyOf(*events, timeoutMs) : WAIT_FAILED;
}

bool GetOverlappedResult(CommHandle /*handle*/, Overlapped* overlapped, std::uint32_t* transferred,
                         bool wait) {
    // The record tells the outcome, so a result can be taken after the device has been closed.
    if (overlapped == nullptr || (wait && overlapped->hEvent == nullptr))
        return FailWith(ERROR_INVALID_PARAMETER);
    std::uint32_t error = 0;
    std::uint32_t count = 0;
    if (const auto operation = win32::PendingOperation(*overlapped)) {
        DWORD done = 0;
        const BOOL ok =
            ::GetOverlappedResult(operation->Device->Handle, &operation->Native, &done, wait);
        const DWORD nativeError = ok ? 0 : ::GetLastError();
        if (operation->Abandoned.load()) {
            // Released without the system meanwhile (a close): the record has the outcome.
            error = overlapped->Internal.load();
            count = overlapped->InternalHigh.load();
        } else if (!ok && nativeError == ERROR_IO_INCOMPLETE) {
            return FailWith(ERROR_IO_INCOMPLETE);
        } else {
            error = win32::FinishOperation(*overlapped, operation, ok != FALSE, nativeError, done);
            count = done;
        }
    } else {
        error = overlapped->Internal.load();
        count = overlapped->InternalHigh.load();
        if (error == ERROR_IO_PENDING)
            return FailWith(ERROR_IO_INCOMPLETE); // a record whose operation never started
    }
    if (transferred != nullptr)
        *transferred = count;
    if (error != ERROR_SUCCESS)
        return FailWith(error);
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool CancelIoEx(CommHandle handle, Overlapped* overlapped) {
    if (overlapped == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](CommDevice& device) {
        const auto operation = win32::PendingOperation(*overlapped);
        if (!operation || operation->Device.get() != &device)
            return FailWith(ERROR_NOT_FOUND);
        if (!::CancelIoEx(device.Handle, &operation->Native)) {
            if (HasOverlappedIoCompleted(&operation->Native))
                return false; // ERROR_NOT_FOUND: it completed meanwhile
            // The system cannot cancel it (Wine's comm event waits): the caller is released
            // all the same, and the operation completes later on its own.
            win32::AbandonOperation(*overlapped, operation, ERROR_OPERATION_ABORTED);
            return true;
        }
        // The system completes a cancelled operation later; the layer promises it is over when
        // this returns, so the caller may free the record and its buffer.
        DWORD done = 0;
        const BOOL ok = ::GetOverlappedResult(device.Handle, &operation->Native, &done, TRUE);
        win32::FinishOperation(*overlapped, operation, ok != FALSE, ok ? 0 : ::GetLastError(),
                               done);
        return true;
    });
}

bool PurgeComm(CommHandle handle, std::uint32_t flags) {
    return OnDevice(handle, [&](CommDevice& device) {
        if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
            return FailWith(ERROR_INVALID_PARAMETER);
        return ::PurgeComm(device.Handle, flags) != FALSE;
    });
}

bool ClearCommError(CommHandle handle, std::uint32_t* errors, COMSTAT* status) {
    return OnDevice(handle, [&](CommDevice& device) {
        DWORD nativeErrors = 0;
        ::COMSTAT nativeStatus{};
        if (!::ClearCommError(device.Handle, &nativeErrors, &nativeStatus))
            return false;
        nativeErrors |= device.SavedErrors.exchange(0);
        if (errors != nullptr)
            *errors = nativeErrors;
        if (status != nullptr)
            CopyRecord(*status, nativeStatus);
        return true;
    });
}

bool EscapeCommFunction(CommHandle handle, std::uint32_t function) {
    return OnDevice(handle, [&](CommDevice& device) {
        // The layer's functions; drivers differ in what else they take.
        const bool known = (function >= SETXOFF && function <= CLRDTR) || function == SETBREAK ||
                           function == CLRBREAK;
        if (!known)
            return FailWith(ERROR_INVALID_PARAMETER);
        return ::EscapeCommFunction(device.Handle, function) != FALSE;
    });
}

bool GetCommModemStatus(CommHandle handle, std::uint32_t* status) {
    if (status == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](CommDevice& device) {
        DWORD native = 0;
        if (!::GetCommModemStatus(device.Handle, &native))
            return false;
        *status = native;
        return true;
    });
}

bool GetDefaultCommConfig(std::string_view name, COMMCONFIG* config, std::uint32_t* size) {
    if (!CommConfigArgumentsValid(config, size))
        return false;
    // The system's provider takes the bare device name ("COM3").
    std::string device(name);
    if (device.rfind("\\\\.\\", 0) == 0)
        device.erase(0, 4);
    // Present means a short open finds a serial device, or finds the device held by another
    // program (access denied); nothing is transferred, and the handle is closed at once.
    const std::string path = DevicePathOf(device);
    const HANDLE query =
        ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (query != win32::InvalidNativeHandle()) {
        ::DCB probe{};
        probe.DCBlength = sizeof probe;
        const bool serial = ::GetCommState(query, &probe) != FALSE; // files open too
        ::CloseHandle(query);
        if (!serial)
            return FailWith(ERROR_FILE_NOT_FOUND);
    } else if (::GetLastError() != ERROR_ACCESS_DENIED) {
        return FailWith(ERROR_FILE_NOT_FOUND);
    }
    ::COMMCONFIG native{};
    DWORD nativeSize = sizeof native;
    native.dwSize = sizeof native;
    if (::GetDefaultCommConfigA(device.c_str(), &native, &nativeSize)) {
        CopyRecord(*config, native);
    } else {
        // A device without a configuration provider: the system's default block, 9600 8N1.
        *config = COMMCONFIG{};
        config->dcb.BaudRate = 9600;
        config->dcb.Flags = DCB_BINARY;
        config->dcb.ByteSize = 8;
        config->dwProviderSubType = 1; // an RS-232 port
    }
    *size = sizeof(COMMCONFIG);
    return true;
}

} // namespace mbus::platform

#include "platform/comm_device.h"

#include "platform/comm_device_arguments.h"
#include "platform/comm_handle_table.h"
#include "platform/port_map.h"
#include "platform/posix/dcb_termios.h"
#include "platform/posix/descriptor_wait.h"
#include "platform/posix/device_node.h"
#include "platform/posix/overlapped_record.h"
#include "platform/posix/tty_device.h"
#include "platform/system_error.h"

#include <memory>
#include <optional>
#include <utility>

namespace mbus::platform {
namespace {

using posix::TtyDevice;

using DeviceTable = CommHandleTable<TtyDevice>;

DeviceTable& Devices() {
    return DeviceTable::Instance();
}

template <typename Operation> bool OnDevice(CommHandle handle, Operation operation) {
    return Devices().On(handle, std::move(operation));
}

// Why this thread's latest CreateFile failed, where the error number does not say it all.
thread_local std::string OpenFailure;

// The device path a name stands for: COM names through the port map, others as they are. With
// `cause`, why a COM name has no device, where the ports folder tells.
std::optional<std::string> DevicePathOf(std::string_view name, std::string* cause = nullptr) {
    PortMapNotes notes;
    auto path = ResolveDeviceName(name, &notes);
    if (!path || path->empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        const auto number = ComNumberOfName(name);
        for (const PortMapNotes::LeftOut& leftOut : notes.LeftOutEntries) {
            if (cause && number == leftOut.Number)
                *cause = leftOut.Reason;
        }
        if (cause && cause->empty())
            *cause = notes.FolderProblem;
        return std::nullopt;
    }
    return path;
}

// Whether `path` names a terminal; otherwise sets the last error (2: no such serial device) and
// with `cause` says what it names instead.
bool IsTerminal(const std::string& path, std::string* cause = nullptr) {
    const posix::DeviceNode node = posix::InspectDeviceNode(path);
    switch (node.Kind) {
    case posix::DeviceNode::Kind::Terminal:
        return true;
    case posix::DeviceNode::Kind::Missing:
        return FailWith(ErrorFromErrno(node.Errno));
    case posix::DeviceNode::Kind::Other:
        SetLastError(ERROR_FILE_NOT_FOUND);
        if (cause)
            *cause = path + " is " + node.What;
        return false;
    }
    return false;
}

} // namespace

CommHandle CreateFile(std::string_view name) {
    OpenFailure.clear();
    const auto path = DevicePathOf(name, &OpenFailure);
    // Nothing but a terminal is opened: opening a file, a FIFO or another device read-write may
    // change or block it.
    if (!path || !IsTerminal(*path, &OpenFailure))
        return INVALID_HANDLE_VALUE;
    std::shared_ptr<TtyDevice> device = TtyDevice::Open(*path, CurrentKernelInterface());
    if (!device) {
        // 5 stands for a device in use and for one the user may not open; say which.
        if (LastError() == ERROR_ACCESS_DENIED) {
            OpenFailure = posix::DescribePermissionDenied(*path);
            SetLastError(ERROR_ACCESS_DENIED);
        }
        return INVALID_HANDLE_VALUE;
    }
    return Devices().Add(std::move(device));
}

std::string TakeOpenFailureCause() {
    return std::exchange(OpenFailure, std::string());
}

bool CloseHandle(CommHandle handle) {
    const auto device = Devices().Remove(handle);
    if (!device)
        return FailWith(ERROR_INVALID_HANDLE);
    device->Close();
    return true;
}

bool GetCommState(CommHandle handle, DCB* dcb) {
    if (dcb == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](TtyDevice& device) { return device.GetState(*dcb); });
}

bool SetCommState(CommHandle handle, const DCB* dcb) {
    if (dcb == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](TtyDevice& device) { return device.SetState(*dcb); });
}

bool SetupComm(CommHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) {
    return OnDevice(handle, [&](TtyDevice& device) { return device.Setup(inQueue, outQueue); });
}

bool GetCommTimeouts(CommHandle handle, COMMTIMEOUTS* timeouts) {
    if (timeouts == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](TtyDevice& device) { return device.GetTimeouts(*timeouts); });
}

bool SetCommTimeouts(CommHandle handle, const COMMTIMEOUTS* timeouts) {
    if (timeouts == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](TtyDevice& device) { return device.SetTimeouts(*timeouts); });
}

bool SetCommMask(CommHandle handle, std::uint32_t mask) {
    return OnDevice(handle, [&](TtyDevice& device) { return device.SetMask(mask); });
}

bool GetCommMask(CommHandle handle, std::uint32_t* mask) {
    if (mask == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    return OnDevice(handle, [&](TtyDevice& device) { return device.GetMask(*mask); });
}

bool WaitCommEvent(CommHandle handle, std::uint32_t* events, Overlapped* overlapped) {
    return OnDevice(handle,
                    [&](TtyDevice& device) { return device.WaitEvent(events, overlapped); });
}

bool ReadFile(CommHandle handle, void* buffer, std::uint32_t count, std::uint32_t* read,
              Overlapped* overlapped) {
    return OnDevice(
        handle, [&](TtyDevice& device) { return device.Read(buffer, count, read, overlapped); });
}

bool WriteFile(CommHandle handle, const void* buffer, std::uint32_t count, std::uint32_t* written,
               Overlapped* overlapped) {
    return OnDevice(handle, [&](TtyDevice& device) {
        return device.Write(buffer, count, written, overlapped);
    });
}

bool GetOverlappedResult(CommHandle /*handle*/, Overlapped* overlapped, std::uint32_t* transferred,
                         bool wait) {
    // The record alone tells the outcome, so a result can be taken after the device has been
    // closed (it then reports ERROR_INVALID_HANDLE).
    if (overlapped == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (wait && overlapped->hEvent == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    std::uint32_t count = 0;
    const std::uint32_t status = posix::RecordResult(*overlapped, wait, count);
    if (status == ERROR_IO_PENDING)
        return FailWith(ERROR_IO_INCOMPLETE);
    if (transferred)
        *transferred = count;
    if (status != ERROR_SUCCESS)
        return FailWith(status);
    return true;
}

std::uint32_t WaitForOperation(CommHandle handle, Overlapped* overlapped,
                               std::initializer_list<Event*> others, std::uint32_t timeoutMs) {
    const auto events = OperationWaitList(overlapped, others);
    if (!events)
        return WAIT_FAILED;
    if (const auto device = Devices().Find(handle))
        return device->AwaitOperation(*overlapped, *events, timeoutMs);
    return WaitAnyOf(*events, timeoutMs);
}

bool PurgeComm(CommHandle handle, std::uint32_t flags) {
    return OnDevice(handle, [&](TtyDevice& device) { return device.Purge(flags); });
}

bool CancelIoEx(CommHandle handle, Overlapped* overlapped) {
    return OnDevice(handle, [&](TtyDevice& device) { return device.Cancel(overlapped); });
}

bool ClearCommError(CommHandle handle, std::uint32_t* errors, COMSTAT* status) {
    return OnDevice(handle, [&](TtyDevice& device) { return device.ClearError(errors, status); });
}

bool EscapeCommFunction(CommHandle handle, std::uint32_t function) {
    return OnDevice(handle, [&](TtyDevice& device) { return device.Escape(function); });
}

bool GetCommModemStatus(CommHandle handle, std::uint32_t* status) {
    return OnDevice(handle, [&](TtyDevice& device) { return device.ModemStatus(status); });
}

bool GetDefaultCommConfig(std::string_view name, COMMCONFIG* config, std::uint32_t* size) {
    if (!CommConfigArgumentsValid(config, size))
        return false;
    const auto path = DevicePathOf(name);
    if (!path)
        return false;
    // The device is not opened: one that another program holds counts as present.
    if (!IsTerminal(*path))
        return FailWith(ERROR_FILE_NOT_FOUND);
    *config = COMMCONFIG{};
    config->dcb = posix::DefaultDcb();
    config->dwProviderSubType = 1; // an RS-232 port
    *size = sizeof(COMMCONFIG);
    return true;
}

} // namespace mbus::platform

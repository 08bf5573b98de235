#include "platform/system_error.h"

namespace mbus::platform {
namespace {

thread_local std::uint32_t LastError_ = ERROR_SUCCESS;

struct MessageText {
    std::uint32_t Code;
    const char* Text;
};

// The texts the platform's own message table gives for the numbers this layer produces.
constexpr MessageText kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_BAD_COMMAND, "The device does not recognize the command."},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning."},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_FILE_TOO_LARGE, "The file size exceeds the limit allowed and cannot be saved."},
    {ERROR_MORE_DATA, "More data is available."},
    {258, "The wait operation timed out."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_DIRECTORY_NOT_SUPPORTED, "An operation is not supported on a directory."},
    {ERROR_OPERATION_ABORTED,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request."},
    {ERROR_IO_INCOMPLETE, "Overlapped I/O event is not in a signaled state."},
    {ERROR_IO_PENDING, "Overlapped I/O operation is in progress."},
    {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected."},
    {ERROR_NOT_FOUND, "Element not found."},
    {ERROR_DISK_QUOTA_EXCEEDED,
     "The requested file operation failed because the storage quota was exceeded."},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired."},
};

} // namespace

std::uint32_t LastError() {
    return LastError_;
}

void SetLastError(std::uint32_t code) {
    LastError_ = code;
}

std::string SystemMessage(std::uint32_t code) {
    for (const MessageText& message : kMessages) {
        if (message.Code == code)
            return message.Text;
    }
    return "Unknown error " + std::to_string(code) + ".";
}

} // namespace mbus::platform

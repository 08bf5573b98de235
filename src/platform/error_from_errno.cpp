// The C library's errno values as the platform's error numbers, the same on every backend.
#include "platform/system_error.h"

#include <cerrno>

namespace mbus::platform {

std::uint32_t ErrorFromErrno(int errnoValue) {
    switch (errnoValue) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EROFS:
    case EWOULDBLOCK: // a lock that another open holds
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
    case EFAULT:
    case ERANGE:
        return ERROR_INVALID_PARAMETER;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
        return ERROR_NOT_SUPPORTED;
    case ECANCELED:
        return ERROR_OPERATION_ABORTED;
    case ENOSPC:
        return ERROR_DISK_FULL;
#ifdef EDQUOT
    case EDQUOT:
        return ERROR_DISK_QUOTA_EXCEEDED;
#endif
    case EFBIG:
        return ERROR_FILE_TOO_LARGE;
    case EISDIR:
        return ERROR_DIRECTORY_NOT_SUPPORTED;
    case ETIMEDOUT:
        return ERROR_TIMEOUT;
    case ENXIO:
    case ENODEV:
    case EIO:
    case EPIPE:
        return ERROR_DEVICE_NOT_CONNECTED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

} // namespace mbus::platform

// The calling thread's last system error, with the platform's error numbers, and the system's
// message text for a number. Every operation of the platform layer that fails sets it.
#pragma once

#include <cstdint>
#include <string>

namespace mbus::platform {

inline constexpr std::uint32_t ERROR_SUCCESS = 0;
inline constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr std::uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr std::uint32_t ERROR_BAD_COMMAND = 22;
inline constexpr std::uint32_t ERROR_GEN_FAILURE = 31;
inline constexpr std::uint32_t ERROR_SHARING_VIOLATION = 32;
inline constexpr std::uint32_t ERROR_NOT_SUPPORTED = 50;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t ERROR_DISK_FULL = 112;
inline constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr std::uint32_t ERROR_FILE_TOO_LARGE = 223;
inline constexpr std::uint32_t ERROR_MORE_DATA = 234;
inline constexpr std::uint32_t ERROR_NO_MORE_ITEMS = 259;
inline constexpr std::uint32_t ERROR_DIRECTORY_NOT_SUPPORTED = 336;
inline constexpr std::uint32_t ERROR_OPERATION_ABORTED = 995;
inline constexpr std::uint32_t ERROR_IO_INCOMPLETE = 996;
inline constexpr std::uint32_t ERROR_IO_PENDING = 997;
inline constexpr std::uint32_t ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr std::uint32_t ERROR_NOT_FOUND = 1168;
inline constexpr std::uint32_t ERROR_DISK_QUOTA_EXCEEDED = 1295;
inline constexpr std::uint32_t ERROR_TIMEOUT = 1460;

// The last error set on the calling thread.
std::uint32_t LastError();
void SetLastError(std::uint32_t code);

// Sets the last error and returns false: how the layer's calls that answer true or false fail.
inline bool FailWith(std::uint32_t code) {
    SetLastError(code);
    return false;
}

// The system's short text for an error number ("Access is denied." style, English on Linux);
// a generic text for numbers it does not know.
std::string SystemMessage(std::uint32_t code);

// The platform error number that stands for an errno value (ENOENT -> 2, EACCES/EBUSY -> 5,
// ENOSPC -> 112, ...); errno values it does not know become ERROR_GEN_FAILURE.
std::uint32_t ErrorFromErrno(int errnoValue);

} // namespace mbus::platform

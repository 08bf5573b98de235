// The Windows API for the win32 backend's sources: <windows.h> without the macros that share a
// name with the platform layer's own declarations (CreateFile, PostMessage, EV_RXCHAR, DCB bit
// names, error numbers, ...). The backend calls the wide or ANSI functions by their full names
// (CreateFileA, PostMessageW) and uses the layer's constants, whose values are the system's.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// Functions the layer declares under the same name.
#undef CreateFile
#undef PostMessage
#undef SendMessageTimeout
#undef RegOpenKeyEx
#undef RegEnumValue
#undef GetDefaultCommConfig

// Constants the layer declares with the same values.
#undef INVALID_HANDLE_VALUE
#undef MAXDWORD
#undef INFINITE
#undef WAIT_OBJECT_0
#undef WAIT_ABANDONED_0
#undef WAIT_TIMEOUT
#undef WAIT_FAILED
#undef WM_QUIT
#undef SMTO_BLOCK
#undef HKEY_LOCAL_MACHINE
#undef KEY_READ
#undef REG_SZ
#undef NOPARITY
#undef ODDPARITY
#undef EVENPARITY
#undef MARKPARITY
#undef SPACEPARITY
#undef ONESTOPBIT
#undef ONE5STOPBITS
#undef TWOSTOPBITS
#undef EV_RXCHAR
#undef EV_RXFLAG
#undef EV_TXEMPTY
#undef EV_CTS
#undef EV_DSR
#undef EV_RLSD
#undef EV_BREAK
#undef EV_ERR
#undef EV_RING
#undef CE_RXOVER
#undef CE_OVERRUN
#undef CE_RXPARITY
#undef CE_FRAME
#undef CE_BREAK
#undef PURGE_TXABORT
#undef PURGE_RXABORT
#undef PURGE_TXCLEAR
#undef PURGE_RXCLEAR
#undef SETXOFF
#undef SETXON
#undef SETRTS
#undef CLRRTS
#undef SETDTR
#undef CLRDTR
#undef SETBREAK
#undef CLRBREAK
#undef MS_CTS_ON
#undef MS_DSR_ON
#undef MS_RING_ON
#undef MS_RLSD_ON
#undef ERROR_SUCCESS
#undef ERROR_FILE_NOT_FOUND
#undef ERROR_PATH_NOT_FOUND
#undef ERROR_TOO_MANY_OPEN_FILES
#undef ERROR_ACCESS_DENIED
#undef ERROR_INVALID_HANDLE
#undef ERROR_NOT_ENOUGH_MEMORY
#undef ERROR_BAD_COMMAND
#undef ERROR_GEN_FAILURE
#undef ERROR_SHARING_VIOLATION
#undef ERROR_NOT_SUPPORTED
#undef ERROR_INVALID_PARAMETER
#undef ERROR_DISK_FULL
#undef ERROR_INSUFFICIENT_BUFFER
#undef ERROR_FILE_TOO_LARGE
#undef ERROR_MORE_DATA
#undef ERROR_NO_MORE_ITEMS
#undef ERROR_DIRECTORY_NOT_SUPPORTED
#undef ERROR_OPERATION_ABORTED
#undef ERROR_IO_INCOMPLETE
#undef ERROR_IO_PENDING
#undef ERROR_DEVICE_NOT_CONNECTED
#undef ERROR_NOT_FOUND
#undef ERROR_DISK_QUOTA_EXCEEDED
#undef ERROR_TIMEOUT

namespace mbus::platform::win32 {

// The system's invalid handle (the layer's INVALID_HANDLE_VALUE is a CommHandle).
inline HANDLE InvalidNativeHandle() {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

} // namespace mbus::platform::win32

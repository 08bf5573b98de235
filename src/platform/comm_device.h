// The serial communications interface: a serial device opened by name for overlapped I/O, its
// device control block, queues, time-outs, comm events, transfers, purging, errors and status,
// escape functions and modem status. Semantics and error numbers are the platform's; on Linux
// the device is a termios tty (see docs/platform.md for what a pseudo-terminal cannot do).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/event.h"

namespace mbus::platform {

using CommHandle = std::intptr_t;
inline constexpr CommHandle INVALID_HANDLE_VALUE = -1;

// Device control block. `Flags` holds the platform's bit fields as one word (DCB_* below).
struct DCB {
    std::uint32_t DCBlength = sizeof(DCB);
    std::uint32_t BaudRate = 0;
    std::uint32_t Flags = 0;
    std::uint16_t wReserved = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = 0;
    std::uint8_t StopBits = 0;
    char XonChar = 17;
    char XoffChar = 19;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    std::uint16_t wReserved1 = 0;
};
static_assert(sizeof(DCB) == 28);

inline constexpr std::uint32_t DCB_BINARY = 0x0001;
inline constexpr std::uint32_t DCB_PARITY_CHECK = 0x0002;
inline constexpr std::uint32_t DCB_OUTX_CTS_FLOW = 0x0004;
inline constexpr std::uint32_t DCB_OUTX_DSR_FLOW = 0x0008;
inline constexpr std::uint32_t DCB_DTR_CONTROL_MASK = 0x0030;
inline constexpr std::uint32_t DCB_DTR_CONTROL_ENABLE = 0x0010;
inline constexpr std::uint32_t DCB_DTR_CONTROL_HANDSHAKE = 0x0020;
inline constexpr std::uint32_t DCB_DSR_SENSITIVITY = 0x0040;
inline constexpr std::uint32_t DCB_TX_CONTINUE_ON_XOFF = 0x0080;
inline constexpr std::uint32_t DCB_OUTX = 0x0100;
inline constexpr std::uint32_t DCB_INX = 0x0200;
inline constexpr std::uint32_t DCB_ERROR_CHAR = 0x0400;
inline constexpr std::uint32_t DCB_NULL = 0x0800;
inline constexpr std::uint32_t DCB_RTS_CONTROL_MASK = 0x3000;
inline constexpr std::uint32_t DCB_RTS_CONTROL_ENABLE = 0x1000;
inline constexpr std::uint32_t DCB_RTS_CONTROL_HANDSHAKE = 0x2000;
inline constexpr std::uint32_t DCB_RTS_CONTROL_TOGGLE = 0x3000;
inline constexpr std::uint32_t DCB_ABORT_ON_ERROR = 0x4000;

inline constexpr std::uint8_t NOPARITY = 0;
inline constexpr std::uint8_t ODDPARITY = 1;
inline constexpr std::uint8_t EVENPARITY = 2;
inline constexpr std::uint8_t MARKPARITY = 3;
inline constexpr std::uint8_t SPACEPARITY = 4;

inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t ONE5STOPBITS = 1;
inline constexpr std::uint8_t TWOSTOPBITS = 2;

inline constexpr std::uint32_t MAXDWORD = 0xFFFFFFFFu;

struct COMMTIMEOUTS {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

struct COMSTAT {
    std::uint32_t Flags = 0;
    std::uint32_t cbInQue = 0;  // bytes received, not yet read
    std::uint32_t cbOutQue = 0; // bytes waiting to be sent
};

// Default configuration record; its first field holds its size (52 bytes).
struct COMMCONFIG {
    std::uint32_t dwSize = sizeof(COMMCONFIG);
    std::uint16_t wVersion = 1;
    std::uint16_t wReserved = 0;
    DCB dcb;
    std::uint32_t dwProviderSubType = 0;
    std::uint32_t dwProviderOffset = 0;
    std::uint32_t dwProviderSize = 0;
    char16_t wcProviderData[2] = {};
};
static_assert(sizeof(COMMCONFIG) == 52);

// Comm events.
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;
// The ring's trailing edge, an event only the older platform family's drivers accept.
inline constexpr std::uint32_t EV_RING_TRAILING = 0x2000;
// The events a device accepts in its mask; any other bit (EV_RING_TRAILING among them) is
// refused with ERROR_INVALID_PARAMETER. On Linux EV_RXFLAG and EV_TXEMPTY are accepted but never
// reported.
inline constexpr std::uint32_t EV_SUPPORTED_MASK = 0x01FF;

// Line errors (ClearCommError).
inline constexpr std::uint32_t CE_RXOVER = 0x0001;
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;
inline constexpr std::uint32_t CE_FRAME = 0x0008;
inline constexpr std::uint32_t CE_BREAK = 0x0010;

// Purge flags.
inline constexpr std::uint32_t PURGE_TXABORT = 0x0001;
inline constexpr std::uint32_t PURGE_RXABORT = 0x0002;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x0008;

// Escape functions.
inline constexpr std::uint32_t SETXOFF = 1;
inline constexpr std::uint32_t SETXON = 2;
inline constexpr std::uint32_t SETRTS = 3;
inline constexpr std::uint32_t CLRRTS = 4;
inline constexpr std::uint32_t SETDTR = 5;
inline constexpr std::uint32_t CLRDTR = 6;
inline constexpr std::uint32_t SETBREAK = 8;
inline constexpr std::uint32_t CLRBREAK = 9;

// Modem status bits.
inline constexpr std::uint32_t MS_CTS_ON = 0x0010;
inline constexpr std::uint32_t MS_DSR_ON = 0x0020;
inline constexpr std::uint32_t MS_RING_ON = 0x0040;
inline constexpr std::uint32_t MS_RLSD_ON = 0x0080;

// The record of one overlapped operation. The caller owns it and its manual-reset event, keeps
// both alive until the operation has completed, and passes the same record to
// GetOverlappedResult. The device sets the event when the operation completes (also when it
// completes at once). ReadFile, WriteFile and WaitCommEvent need a record with an event; without
// one they fail with ERROR_INVALID_PARAMETER.
struct Overlapped {
    Event* hEvent = nullptr;
    std::atomic<std::uint32_t> Internal{0};     // ERROR_IO_PENDING while pending, then the result
    std::atomic<std::uint32_t> InternalHigh{0}; // bytes transferred
};

// Opens a serial device for reading and writing, exclusively, existing only, for overlapped I/O.
// `name` is "\\.\COM<n>" or "COM<n>" (through the port map) or a device path. Only a terminal
// is opened: any other path fails before it is opened. On failure: INVALID_HANDLE_VALUE and the
// last error (2 or 3 no such device, 5 in use or not permitted, ...). On Linux, closing the
// device restores the terminal settings that were in force when it was opened.
CommHandle CreateFile(std::string_view name);

// Why the calling thread's latest CreateFile failed, in words, where the platform knows more than
// the error number says: permission denied for a device (and how a user gets access), a COM link
// to something that is not a terminal, a ports folder that cannot be read. Empty after a
// CreateFile that succeeded, or whose error number says it all (no such device, in use). Taking
// it clears it, so it is never shown for a later failure that has another cause.
std::string TakeOpenFailureCause();

// Closes the device; pending operations complete with ERROR_INVALID_HANDLE.
bool CloseHandle(CommHandle handle);

bool GetCommState(CommHandle handle, DCB* dcb);
bool SetCommState(CommHandle handle, const DCB* dcb);
bool SetupComm(CommHandle handle, std::uint32_t inQueue, std::uint32_t outQueue);
bool GetCommTimeouts(CommHandle handle, COMMTIMEOUTS* timeouts);
bool SetCommTimeouts(CommHandle handle, const COMMTIMEOUTS* timeouts);

// Chooses the reported comm events; completes a pending WaitCommEvent with no events.
bool SetCommMask(CommHandle handle, std::uint32_t mask);
bool GetCommMask(CommHandle handle, std::uint32_t* mask);

// Waits for one of the masked events. Completes at once (true, *events set) or returns false with
// ERROR_IO_PENDING; the device then writes *events and completes the record. Fails with
// ERROR_INVALID_PARAMETER while the mask is empty (also after a refused SetCommMask on a fresh
// device) or while another wait is pending. Received bytes are reported (EV_RXCHAR) once; the
// next report needs a ReadFile call in between, so bytes nobody reads do not keep waking waiters.
bool WaitCommEvent(CommHandle handle, std::uint32_t* events, Overlapped* overlapped);

// Overlapped transfers: true with the count when done at once, false with ERROR_IO_PENDING when
// the record completes later, false with another last error on failure (ERROR_DEVICE_NOT_CONNECTED
// once the device has gone away). With ReadIntervalTimeout MAXDWORD and both read totals 0 a read
// completes at once with what is there, possibly nothing; with other time-outs on Linux a read
// with nothing to read waits until at least one byte arrives (the totals are not applied). Write
// time-outs are not applied.
bool ReadFile(CommHandle handle, void* buffer, std::uint32_t count, std::uint32_t* read,
              Overlapped* overlapped);
bool WriteFile(CommHandle handle, const void* buffer, std::uint32_t count, std::uint32_t* written,
               Overlapped* overlapped);

// The result of an overlapped operation: when `wait`, blocks until it completes; otherwise
// false with ERROR_IO_INCOMPLETE while pending. False with the operation's error when it failed
// (ERROR_OPERATION_ABORTED after a purge, ERROR_INVALID_HANDLE after a close, ...).
bool GetOverlappedResult(CommHandle handle, Overlapped* overlapped, std::uint32_t* transferred,
                         bool wait);

// Waits until the operation of `overlapped` completes (WAIT_OBJECT_0), one of `others` is
// signalled (WAIT_OBJECT_0 + 1 + its index) or the time-out passes (WAIT_TIMEOUT): WaitAny on the
// record's event and `others`. Where the backend can, the waiting thread serves a pending read
// itself as soon as the device has bytes, so they reach it without a hand-over between threads.
std::uint32_t WaitForOperation(CommHandle handle, Overlapped* overlapped,
                               std::initializer_list<Event*> others, std::uint32_t timeoutMs);

// Cancels the operation pending with `overlapped` on the device: it completes with
// ERROR_OPERATION_ABORTED before this returns, so its record and buffers may be freed. False
// with ERROR_NOT_FOUND when the record has no operation pending there (already completed).
bool CancelIoEx(CommHandle handle, Overlapped* overlapped);

bool PurgeComm(CommHandle handle, std::uint32_t flags);
bool ClearCommError(CommHandle handle, std::uint32_t* errors, COMSTAT* status);
bool EscapeCommFunction(CommHandle handle, std::uint32_t function);
bool GetCommModemStatus(CommHandle handle, std::uint32_t* status);

// Reads the default configuration of the named device without opening it; succeeds when such a
// serial device exists (also when another program holds it). A record smaller than
// sizeof(COMMCONFIG) fails with ERROR_INSUFFICIENT_BUFFER and *size set to the size needed.
bool GetDefaultCommConfig(std::string_view name, COMMCONFIG* config, std::uint32_t* size);

} // namespace mbus::platform

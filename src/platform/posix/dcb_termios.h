// The device control block on Linux termios2: which block fields the kernel holds (rate, data
// bits, parity, stop bits, RTS/CTS and XON/XOFF flow, the flow characters, parity checking) and
// how they map, so the comm device can apply a block and read back what the device took.
// Fields termios has no place for stay in the device's shadow copy of the block.
#pragma once

#include <asm/termbits.h>

#include "platform/comm_device.h"

namespace mbus::platform::posix {

// The block of a port nobody has configured: 9600 bit/s, 8 data bits, no parity, one stop bit,
// binary, DTR and RTS on, no flow control, flow characters XON 0x11 and XOFF 0x13.
DCB DefaultDcb();

// Whether a device can take the block's line values: a rate above 0, 5..8 data bits, parity
// none/odd/even/mark/space, one, one and a half (5 data bits only) or two (not with 5 data bits)
// stop bits, and distinct flow characters when XON/XOFF flow is on.
bool IsValidDcb(const DCB& dcb);

// Raw byte transfer: no echo, no line editing, no character mapping, breaks read as nothing,
// receiver on, modem control lines ignored for opening, and a read of an empty queue that
// reports "nothing yet" (at least one byte, no timer) rather than end of file.
void MakeRaw(termios2& tio);

// Raw mode without flow control or parity checking: the state a device is opened in.
void MakeOpenState(termios2& tio);

// Writes the line values, flow control and flow characters of a valid block into `tio`, keeping
// raw mode and everything the block does not decide.
void ApplyDcbToTermios(const DCB& dcb, termios2& tio);

// The block the device holds: the kernel's values for the fields termios carries, `shadow`'s for
// the others.
DCB DcbFromTermios(const termios2& tio, const DCB& shadow);

} // namespace mbus::platform::posix

// Sending: the hex text of edtCMD goes to ComPort once per press on btnSend, or every period
// while ckbAutoSend is checked. Each send that the port takes adds its byte count to SendCount.
// A closed port is not opened by a send: the send fails (a press says so, a tick stays silent).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mbus::console {

// The work buffer the command's hex text is converted into, created for each send.
inline constexpr std::size_t kSendBufferSize = 10240;

// The bytes that the hex digits of edtCMD encode (pairs in order, other characters skipped, an
// odd last digit dropped). A command of more bytes than the work buffer holds is refused with
// std::length_error: no such command could pass the port's output buffer anyway.
std::string CommandBytes();

// A command holding anything but hex digits, blanks and line breaks is not sent: read as hex
// text it would become bytes the engineer never typed ("hello world" gives one byte 0xED).
// Returns the position (from 0) of the first such character of edtCMD, or -1 when there is none.
int FirstForeignCommandCharacter();

// Sends `bytes` as 发送 does: to ComPort, counted, shown in the traffic view, written to the
// traffic log file, and opening an exchange. Gives the id of that exchange (0 when the bytes hold
// nothing to send). Raises what the port raises when it takes nothing (closed or closing).
std::uint64_t SendRequest(const std::string& bytes);

} // namespace mbus::console

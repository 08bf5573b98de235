// Sending: the hex text of edtCMD goes to ComPort once per press on btnSend, or every period
// while ckbAutoSend is checked. Each send that the port takes adds its byte count to SendCount.
#pragma once

#include <cstddef>
#include <string>

namespace mbus::console {

// The work buffer the command's hex text is converted into, created for each send.
inline constexpr std::size_t kSendBufferSize = 10240;

// The bytes that the hex digits of edtCMD encode (pairs in order, other characters skipped, an
// odd last digit dropped). A command of more bytes than the work buffer holds is refused with
// std::length_error: no such command could pass the port's output buffer anyway.
std::string CommandBytes();

} // namespace mbus::console

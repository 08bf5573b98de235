// The read-data request of the household meter protocol: two wake-up bytes 0xFE, start 0x68,
// meter type, seven address bytes (least significant first), control code, length 0x03, the data
// identifier as typed, sequence number, 8-bit sum from the start byte to the sequence number, end
// byte 0x16. The console keeps one such buffer for the whole run and rebuilds it on every change.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "protocol/frame_layout.h"

namespace mbus::protocol {

using ReadFrameBuffer = std::array<std::uint8_t, kReadFrameSize>;

// Fills `frame` for the meter at `address` (seven bytes in the order typed, most significant
// first) with the given type code, control code and data identifier (two bytes in the order
// typed, not reversed). Every byte is written except the sequence number at offset 15, which
// keeps whatever the buffer held (zero in a buffer that started zeroed). The caller's address
// bytes are left as they were.
void BuildReadFrame(ReadFrameBuffer& frame, std::span<const std::uint8_t, 7> address,
                    std::uint8_t typeCode, std::uint8_t controlCode,
                    std::span<const std::uint8_t, 2> dataId);

} // namespace mbus::protocol

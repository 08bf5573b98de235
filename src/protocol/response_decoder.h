// Decoder of read-data replies: finds the data identifier in a received chunk, steps back to the
// control code and reads the water/gas (data length 0x16) or heat (0x2E) layout at fixed
// distances from it, into one labelled line of text. Lenient by design: only the control code
// and the data length are checked, never the start byte, address, checksum or end byte.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "protocol/frame_layout.h"

namespace mbus::protocol {

struct DecodedReply {
    ReplyLayout Layout = ReplyLayout::None;
    std::string Text; // UTF-8; empty when nothing was decoded
};

// Decodes the first reply the identifier search finds, or gives Layout None and an empty text.
// Reads nothing outside `received`: a reply whose layout runs past the end of the chunk (cut
// short) is not decoded at all.
DecodedReply DecodeReply(std::span<const std::uint8_t> received);

// The decoded line alone ("当前累积流量:000012.34;...;状态:0000;"), or the empty text.
std::string DecodeMeterData(std::span<const std::uint8_t> received);

} // namespace mbus::protocol

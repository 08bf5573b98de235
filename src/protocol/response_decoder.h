// Decoder of read-data replies: finds the data identifier in a received chunk, steps back to the
// control code and reads the water/gas (data length 0x16) or heat (0x2E) layout at fixed
// distances from it, into one labelled line of text. Lenient by design: only the control code
// and the data length are checked, never the start byte, address, checksum or end byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "protocol/frame_layout.h"

namespace mbus::protocol {

struct DecodedReply {
    ReplyLayout Layout = ReplyLayout::None;
    std::string Text; // UTF-8; empty when nothing was decoded
};

// Where the decoder finds a reply in a chunk: the position of its control code and its format.
struct ReplyLocation {
    std::size_t ControlAt = 0;
    const ReplyFormat* Format = nullptr;
};

// The reply the decoder reads from `received`, located by the first identifier the search finds,
// or none. A reply whose fields run past the end of the chunk is none.
std::optional<ReplyLocation> LocateReply(std::span<const std::uint8_t> received);

// The value of `field` as the decoded line shows it (without its label): BCD digits as hex,
// split by the point where the field has decimals. `fromControl` starts at the reply's control
// code and holds the whole field.
std::string FieldValueText(const ReplyField& field, std::span<const std::uint8_t> fromControl);

// Decodes the first reply the identifier search finds, or gives Layout None and an empty text.
// Reads nothing outside `received`: a reply whose layout runs past the end of the chunk (cut
// short) is not decoded at all.
DecodedReply DecodeReply(std::span<const std::uint8_t> received);

// The decoded line alone ("当前累积流量:000012.34;...;状态:0000;"), or the empty text.
std::string DecodeMeterData(std::span<const std::uint8_t> received);

} // namespace mbus::protocol

// One received reply, found once per chunk and taken apart once: what kind of reply it is, where
// its control code stands, the meter's type and address from the header, the identifier and
// sequence number, every field with its value (exactly as the decoded line shows it) and unit,
// the status in words, and the frame check. The decoded line, the readings log, the frame check,
// the JSON of `mbus decode` and `mbus read` and the CSV rows are all read off this value, so a
// chunk is searched for its reply in one place only (ParseReply) and the decoded line and the
// reading can never disagree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/frame_check.h"
#include "protocol/frame_layout.h"
#include "protocol/meter_status.h"
#include "protocol/request.h"

namespace mbus::protocol {

enum class ReplyKind {
    ReadData,    // a read-data reply (control 0x81) of a known layout: the decoded line
    ReadAddress, // a read-address reply (control 0x83): the meter's type and address
    Error,       // a reply with the error bit 0x40 set: the meter refused, with its status bytes
    Unknown      // a whole reply frame (reply bit 0x80, length, end byte) of no kind above
};

struct FieldReading {
    std::string_view Label; // the decoded line's label without its colon
    std::string Value;      // as the decoded line shows it
    std::string Unit;       // from the unit byte or the layout; empty for the clock and status
    FieldKind Kind = FieldKind::Quantity;
};

struct ParsedReply {
    ReplyKind Kind = ReplyKind::Unknown;
    std::size_t ControlAt = 0;            // the control code's position in the chunk
    std::uint8_t Control = 0;             // the control code
    const ReplyFormat* Format = nullptr;  // the field layout of a read-data reply
    std::optional<std::uint8_t> TypeCode; // none when the chunk starts after the header
    std::optional<LineAddress> Address;   // likewise
    std::optional<DataIdentifier> DataId; // in the order received; none for an error reply
    std::optional<std::uint8_t> Sequence;
    std::vector<FieldReading> Fields;      // read data: in layout order, the status included
    MeterStatus Status;                    // read data: the status bytes in words
    std::vector<std::uint8_t> ErrorStatus; // error reply: the status bytes after the sequence
    FrameCheck Check;                      // address and type: see CompareWithRequest
    std::string Line; // read data: the decoded line, exactly DecodeMeterData's; else empty

    bool Decoded() const { return Kind == ReplyKind::ReadData; }
};

// A label without the colon that ends it in the layout tables.
std::string_view BareLabel(const ReplyField& field);

// The reply `chunk` holds, or none. A read-data reply is found exactly as DecodeMeterData finds
// it (the first identifier 90 1F, else 1F 90, with 0x81 two bytes before it), so Line is the
// decoder's line; then a read-address reply (identifier 81 0A or 0A 81 after 0x83); then the
// first whole reply frame: a read-data reply behind the echo of a request (which DecodeMeterData
// never decodes: it stops at the echo's identifier), a refusal, or a reply of no known kind.
// `readData` false leaves read-data replies out. Reads nothing outside the chunk.
std::optional<ParsedReply> ParseReply(std::span<const std::uint8_t> chunk, bool readData = true);

// The work buffer a received frame is copied into for decoding. A longer frame is decoded from
// its first kAnalyseBufferSize bytes.
inline constexpr std::size_t kAnalyseBufferSize = 1025;

// The reply of a frame the receive road completed (the console's traffic, `mbus read`): parsed
// from the frame's first kAnalyseBufferSize bytes, and read-data replies only while `addressText`
// (the meter address as typed: hex digits paired in order, anything else skipped) gives exactly
// seven bytes. The address only gates decoding; compare with the request for a match.
std::optional<ParsedReply> ParseReceivedFrame(std::string_view addressText,
                                              std::span<const std::uint8_t> frame);

// Sets the address and type checks of `reply` against the request it answers: none for the
// wildcard address or type, and none when the reply's header is not in the chunk.
void CompareWithRequest(ParsedReply& reply, const ReadRequest& request);

// Whether `reply` can come from the meter `request` asked: its address and type match, or the
// request asked at the wildcard, or the reply's header is not there to tell.
bool CanAnswer(const ParsedReply& reply, const ReadRequest& request);

// How many chunks ParseReply has taken apart in this process: a chunk's reply is found once, and
// tests hold the receive road to that with this count.
std::uint64_t RepliesParsed();

} // namespace mbus::protocol

// One received reply, found once per chunk and taken apart once: what kind of reply it is, where
// its control code stands, the meter's type and address from the header, the identifier and
// sequence number, every field with its value (exactly as the decoded line shows it), unit and
// raw bytes, the status in words, the refusal's status bytes, and the frame check. The decoded
// line, the readings log, the frame check, the JSON of `mbus decode`, `mbus read` and the
// operation subcommands and the CSV rows are all read off this value, so a chunk is searched for
// its reply in one place only (ParseReply) and the decoded line and the reading can never
// disagree.
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
    ReadData,     // a read-data reply (control 0x81) of a known layout: the current counters, a
                  // past month, the price table, a day or the purchase record; the decoded line
    ReadAddress,  // a read-address reply (control 0x83): the meter's type and address
    Write,        // a write reply (control 0x84): the identifier, and from most meters the status
    WriteAddress, // a write-address reply (control 0x95): the meter's new address in the header
    KeyVersion,   // a key-version reply (control 0x89, identifier 81 06): one byte
    Error,        // a reply with the error bit 0x40 set: the meter refused, with its status bytes
    Unknown       // a whole reply frame (reply bit 0x80, length, end byte) of no kind above
};

struct FieldReading {
    std::string_view Label; // the decoded line's label without its colon
    std::string Value;      // as the decoded line shows it
    std::string Unit;       // from the unit byte or the layout; empty for the clock and status
    FieldKind Kind = FieldKind::Quantity;
    std::string Raw; // the value's bytes as received: hex digits in line order ("34120000")
};

struct ParsedReply {
    ReplyKind Kind = ReplyKind::Unknown;
    std::size_t ControlAt = 0;            // the control code's position in the chunk
    std::uint8_t Control = 0;             // the control code
    const ReplyFormat* Format = nullptr;  // the layout of Fields (none: no fields)
    std::optional<std::uint8_t> TypeCode; // none when the chunk starts after the header
    std::optional<LineAddress> Address;   // likewise
    std::optional<DataIdentifier> DataId; // in the order received; none for an error reply
    std::optional<std::uint8_t> Sequence;
    std::vector<FieldReading> Fields;      // read data, key version, a write reply's status:
                                           // in layout order, the status included
    MeterStatus Status;                    // the status bytes in words; Raw empty without them
    std::vector<std::uint8_t> ErrorStatus; // error reply: the status bytes after the sequence
    FrameCheck Check;                      // address, type, sequence: see CompareWithRequest
    // Read data: the decoded line; of the current counters exactly DecodeMeterData's ("label:
    // value;" each), of the other layouts LabelledValues of the fields. Else empty.
    std::string Line;

    bool Decoded() const { return Kind == ReplyKind::ReadData; }
};

// A label without the colon that ends it in the layout tables.
std::string_view BareLabel(const ReplyField& field);

// The fields as one line of labelled values with their units: "label:valueunit;" each, as
// "上1月结算日累积量:000010.00m³;" (no blank anywhere, as in the decoded line).
std::string LabelledValues(std::span<const FieldReading> fields);

// The reply `chunk` holds, or none. A read-data reply of the current counters is found exactly
// as DecodeMeterData finds it (the first identifier 90 1F, else 1F 90, with 0x81 two bytes
// before it), so Line is the decoder's line; then a read-address reply (identifier 81 0A or
// 0A 81 after 0x83); then the first whole reply frame: a current-counters reply behind the echo
// of a request (which DecodeMeterData never decodes: it stops at the echo's identifier), a
// read-data reply of another layout (identifier in either byte order), a write, write-address or
// key-version reply, a refusal, or a reply of no known kind. `readData` false leaves read-data
// replies out. Reads nothing outside the chunk.
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

// Sets the address, type and sequence checks of `reply` against the request it answers: address
// and type none for the wildcard and when the reply's header is not in the chunk; the sequence
// none when the reply carries none. A write-address reply may come from the new address or the
// old one.
void CompareWithRequest(ParsedReply& reply, const ReadRequest& request);

// Whether `reply` can come from the meter `request` asked: its address and type match, or the
// request asked at the wildcard, or the reply's header is not there to tell.
bool CanAnswer(const ParsedReply& reply, const ReadRequest& request);

// Whether `reply` answers `request`: a reply of the kind its control code asks for (read data of
// the same identifier in either byte order, read address, write of the same identifier, write
// address, key version), a refusal of it (its control code with the error bit), or a reply of
// no known layout with the request's control code and identifier; and from the meter asked
// (CanAnswer). The frame check may still fail.
bool Answers(const ParsedReply& reply, const ReadRequest& request);

// How many chunks ParseReply has taken apart in this process: a chunk's reply is found once, and
// tests hold the receive road to that with this count.
std::uint64_t RepliesParsed();

} // namespace mbus::protocol

#include "protocol/parsed_reply.h"

#include "protocol/response_decoder.h"
#include "protocol/unit_code.h"
#include "util/string_c.h"

#include <algorithm>
#include <atomic>

namespace mbus::protocol {
namespace {

std::atomic<std::uint64_t> ParseCount{0};

bool IsWildcard(const LineAddress& address) {
    return std::all_of(address.begin(), address.end(),
                       [](std::uint8_t b) { return b == kWildcardByte; });
}

struct MeterMatch {
    std::optional<bool> Address; // none for the wildcard, or without the reply's header
    std::optional<bool> Type;
};

MeterMatch MatchOf(const ParsedReply& reply, const ReadRequest& request) {
    MeterMatch match;
    if (!reply.Address || !reply.TypeCode)
        return match;
    if (request.Control == kControlWriteAddress && request.Data.size() == kAddressSize &&
        std::equal(request.Data.begin(), request.Data.end(), reply.Address->begin()))
        match.Address = true; // the meter answers at its new address
    else if (!IsWildcard(request.Address))
        match.Address = *reply.Address == request.Address;
    if (request.TypeCode != kWildcardByte)
        match.Type = *reply.TypeCode == request.TypeCode;
    return match;
}

// The value's bytes as hex digits in line order.
std::string RawHex(std::span<const std::uint8_t> bytes) {
    return util::RemoveSpaces(util::BytesToHex(bytes));
}

// Every field of `format` from the reply whose control code starts `fromControl` (which holds
// them all): its value as the decoded line shows it, its unit, its raw bytes; the status in words.
void ReadFields(ParsedReply& reply, std::span<const std::uint8_t> fromControl,
                const ReplyFormat& format) {
    reply.Format = &format;
    for (const ReplyField& field : format.Fields) {
        FieldReading value{BareLabel(field),
                           FieldValueText(field, fromControl),
                           {},
                           field.Kind,
                           RawHex(fromControl.subspan(field.Offset, field.Size))};
        if (field.Unit == UnitByte::Follows)
            value.Unit = UnitOfCode(fromControl[field.UnitOffset()]);
        else
            value.Unit = field.FixedUnit;
        if (field.Kind == FieldKind::Status)
            reply.Status = StatusOf(fromControl.subspan(field.Offset).first<2>());
        reply.Fields.push_back(std::move(value));
    }
}

// The type and address of the header that ends at the control code at `control`, when the chunk
// holds it.
void ReadHeader(ParsedReply& reply, std::span<const std::uint8_t> chunk) {
    if (reply.ControlAt < kControlAt)
        return;
    const auto header = chunk.subspan(reply.ControlAt - kControlAt, kControlAt);
    reply.TypeCode = header[kTypeAt];
    LineAddress address;
    std::copy_n(header.begin() + kAddressAt, kAddressSize, address.begin());
    reply.Address = address;
}

// A read-data reply at `location`; every field read once, the line from them.
ParsedReply ReadDataReply(std::span<const std::uint8_t> chunk, const ReplyLocation& location) {
    ParsedReply reply;
    reply.Kind = ReplyKind::ReadData;
    reply.ControlAt = location.ControlAt;
    reply.Control = kControlReadReply;
    ReadHeader(reply, chunk);
    const auto fromControl = chunk.subspan(location.ControlAt);
    // The located fields lie beyond the identifier and the sequence number.
    reply.DataId =
        DataIdentifier{fromControl[kDataIdAfterControl], fromControl[kDataIdAfterControl + 1]};
    reply.Sequence = fromControl[kSequenceAt - kControlAt];
    ReadFields(reply, fromControl, *location.Format);
    if (IsCurrentData(*location.Format)) {
        for (std::size_t i = 0; i < reply.Fields.size(); ++i) {
            reply.Line.append(location.Format->Fields[i].Label);
            reply.Line.append(reply.Fields[i].Value);
            reply.Line.push_back(';');
        }
    } else {
        reply.Line = LabelledValues(reply.Fields);
    }
    reply.Check = CheckFrame(chunk, location.ControlAt);
    return reply;
}

// The first read-address reply: the identifier 81 0A (or 0A 81) with the control code 0x83 two
// bytes before it and the whole header in the chunk. Other occurrences of the identifier (the
// echo of the request, data bytes) are passed over.
std::optional<ParsedReply> AddressReply(std::span<const std::uint8_t> chunk) {
    for (std::size_t at = kDataIdAt; at + kDataIdSize <= chunk.size(); ++at) {
        const bool identifier =
            (chunk[at] == kReadAddressId[0] && chunk[at + 1] == kReadAddressId[1]) ||
            (chunk[at] == kReadAddressId[1] && chunk[at + 1] == kReadAddressId[0]);
        const std::size_t control = at - kDataIdAfterControl;
        if (!identifier || chunk[control] != kControlReadAddressReply)
            continue;
        ParsedReply reply;
        reply.Kind = ReplyKind::ReadAddress;
        reply.ControlAt = control;
        reply.Control = kControlReadAddressReply;
        ReadHeader(reply, chunk);
        reply.DataId = DataIdentifier{chunk[at], chunk[at + 1]};
        if (at + kDataIdSize < chunk.size())
            reply.Sequence = chunk[at + kDataIdSize];
        reply.Check = CheckFrame(chunk, control);
        return reply;
    }
    return std::nullopt;
}

// Whether a whole message (start byte to end byte, by its data length) starts at `start`.
std::optional<std::size_t> WholeMessageSize(std::span<const std::uint8_t> chunk,
                                            std::size_t start) {
    if (chunk.size() - start <= kLengthAt || chunk[start] != kStartByte)
        return std::nullopt;
    const std::size_t size = MessageSize(chunk[start + kLengthAt]);
    if (chunk.size() - start < size || chunk[start + size - 1] != kEndByte)
        return std::nullopt;
    return size;
}

// The read-data layout of a whole reply frame whose control code stands at `control`, when it is
// one the parser knows: 0x81, a known identifier in either byte order, its data length.
const ReplyFormat* ReadDataFormat(std::span<const std::uint8_t> chunk, std::size_t control) {
    if (chunk[control] != kControlReadReply)
        return nullptr;
    const auto id = chunk.subspan(control + kDataIdAfterControl, kDataIdSize);
    return ReadReplyFormatOf({id[0], id[1]}, chunk[control + kLengthAfterControl]);
}

// The kind of a whole reply frame that is neither read data nor a refusal, from its control code
// and data (the identifier, the sequence number, what follows): a write, write-address or
// key-version reply, or one of no known kind.
void ClassifyOtherReply(ParsedReply& reply, std::span<const std::uint8_t> chunk,
                        std::span<const std::uint8_t> data) {
    reply.Kind = ReplyKind::Unknown;
    if (data.size() >= kDataIdSize)
        reply.DataId = DataIdentifier{data[0], data[1]};
    if (data.size() > kDataIdSize)
        reply.Sequence = data[kDataIdSize];
    if (data.size() < kRequestDataLength)
        return;
    const auto fromControl = chunk.subspan(reply.ControlAt);
    switch (reply.Control) {
    case kControlWriteReply:
        // DI SER, and from most meters ST0 ST1.
        if (data.size() == kRequestDataLength) {
            reply.Kind = ReplyKind::Write;
        } else if (data.size() == kWriteStatusDataLength) {
            reply.Kind = ReplyKind::Write;
            ReadFields(reply, fromControl, kWriteStatusReplyFormat);
        }
        break;
    case kControlWriteAddressReply:
        reply.Kind = ReplyKind::WriteAddress;
        break;
    case kControlReadKeyVersionReply:
        if (data.size() == kKeyVersionDataLength && SameIdentifier(*reply.DataId, kKeyVersionId)) {
            reply.Kind = ReplyKind::KeyVersion;
            ReadFields(reply, fromControl, kKeyVersionReplyFormat);
        }
        break;
    default:
        break;
    }
}

// The first whole reply frame: start byte, header, a control code with the reply bit, its data
// length, the data, a checksum and the end byte, all in the chunk. A current-counters reply
// behind the echo of a request (two-wire converters repeat what is sent) is decoded here: the
// decoder's own search stops at the identifier of the echo. Without an echo such a reply stays
// as the decoder left it (its first identifier pointed elsewhere), a reply of no known kind.
std::optional<ParsedReply> WholeReplyFrame(std::span<const std::uint8_t> chunk, bool readData) {
    bool afterEcho = false;
    for (std::size_t start = 0; start < chunk.size(); ++start) {
        const auto size = WholeMessageSize(chunk, start);
        if (!size)
            continue;
        const std::size_t control = start + kControlAt;
        if ((chunk[control] & kReplyBit) == 0) {
            // A request: the echo of what was sent. The reply may follow it.
            afterEcho = true;
            start += *size - 1;
            continue;
        }
        if (const ReplyFormat* format = ReadDataFormat(chunk, control);
            format && readData && (afterEcho || !IsCurrentData(*format)))
            return ReadDataReply(chunk, ReplyLocation{control, format});

        ParsedReply reply;
        reply.ControlAt = control;
        reply.Control = chunk[control];
        ReadHeader(reply, chunk);
        const auto data = chunk.subspan(start + kDataIdAt, chunk[start + kLengthAt]);
        if ((reply.Control & kErrorBit) != 0) {
            // The sequence number, then the status bytes (two from most meters, one from some).
            reply.Kind = ReplyKind::Error;
            if (!data.empty()) {
                reply.Sequence = data[0];
                reply.ErrorStatus.assign(data.begin() + 1, data.end());
            }
        } else {
            ClassifyOtherReply(reply, chunk, data);
        }
        reply.Check = CheckFrame(chunk, control);
        return reply;
    }
    return std::nullopt;
}

} // namespace

std::string_view BareLabel(const ReplyField& field) {
    std::string_view label = field.Label;
    if (!label.empty() && label.back() == ':')
        label.remove_suffix(1);
    return label;
}

std::string LabelledValues(std::span<const FieldReading> fields) {
    std::string line;
    for (const FieldReading& field : fields) {
        line.append(field.Label);
        line.push_back(':');
        line.append(field.Value);
        line.append(field.Unit);
        line.push_back(';');
    }
    return line;
}

std::optional<ParsedReply> ParseReply(std::span<const std::uint8_t> chunk, bool readData) {
    ParseCount.fetch_add(1, std::memory_order_relaxed);
    if (readData) {
        if (const auto location = LocateReply(chunk))
            return ReadDataReply(chunk, *location);
    }
    if (auto address = AddressReply(chunk))
        return address;
    return WholeReplyFrame(chunk, readData);
}

std::optional<ParsedReply> ParseReceivedFrame(std::string_view addressText,
                                              std::span<const std::uint8_t> frame) {
    // Converted in full, so an address of more than seven bytes is seen as such.
    const bool sevenBytes = util::HexToBytes(addressText).size() == kAddressSize;
    return ParseReply(frame.first(std::min(frame.size(), kAnalyseBufferSize)), sevenBytes);
}

void CompareWithRequest(ParsedReply& reply, const ReadRequest& request) {
    const MeterMatch match = MatchOf(reply, request);
    reply.Check.AddressMatch = match.Address;
    reply.Check.TypeMatch = match.Type;
    if (reply.Sequence)
        reply.Check.SequenceMatch = *reply.Sequence == request.Sequence;
}

bool CanAnswer(const ParsedReply& reply, const ReadRequest& request) {
    const MeterMatch match = MatchOf(reply, request);
    return match.Address != false && match.Type != false;
}

bool Answers(const ParsedReply& reply, const ReadRequest& request) {
    const std::uint8_t asked = request.Control & kRequestControlMask;
    if ((reply.Control & kRequestControlMask) != asked || !CanAnswer(reply, request))
        return false;
    const bool sameId = reply.DataId && SameIdentifier(*reply.DataId, request.DataId);
    switch (reply.Kind) {
    case ReplyKind::Error:
        return true;
    case ReplyKind::ReadData:
    case ReplyKind::Write:
    case ReplyKind::Unknown:
        return sameId;
    case ReplyKind::ReadAddress:
    case ReplyKind::WriteAddress:
    case ReplyKind::KeyVersion:
        return true;
    }
    return false;
}

std::uint64_t RepliesParsed() {
    return ParseCount.load(std::memory_order_relaxed);
}

} // namespace mbus::protocol

#include "protocol/response_decoder.h"

#include "util/string_c.h"

#include <algorithm>
#include <array>

namespace mbus::protocol {

std::optional<ReplyLocation> LocateReply(std::span<const std::uint8_t> received) {
    static constexpr DataIdentifier kIdLowFirst{0x90, 0x1F};
    static constexpr DataIdentifier kIdHighFirst{0x1F, 0x90};

    // Only the first occurrence of the first pattern found is ever examined.
    auto found = util::FindBytes(received, kIdLowFirst);
    if (!found)
        found = util::FindBytes(received, kIdHighFirst);
    if (!found || *found < kDataIdAfterControl)
        return std::nullopt;

    const std::size_t control = *found - kDataIdAfterControl;
    if (received[control] != kControlReadReply)
        return std::nullopt;
    const ReplyFormat* format = ReplyFormatOf(received[control + kLengthAfterControl]);
    if (!format)
        return std::nullopt;

    // The checksum and end byte after the fields are not needed.
    if (received.size() - control < format->Fields.back().End())
        return std::nullopt;
    return ReplyLocation{control, format};
}

std::string FieldValueText(const ReplyField& field, std::span<const std::uint8_t> fromControl) {
    std::array<std::uint8_t, kMaxFieldSize> scratch{};
    const auto value = fromControl.subspan(field.Offset, field.Size);
    std::copy(value.begin(), value.end(), scratch.begin());
    const auto bytes = std::span<std::uint8_t>(scratch).first(field.Size);
    if (field.Order == ByteOrder::Reversed)
        util::ReverseBytes(bytes);

    std::string text;
    if (field.Decimals != 0) {
        text.append(util::BytesToHex(bytes.first(field.IntegerBytes())));
        text.push_back('.');
        text.append(util::BytesToHex(bytes.subspan(field.IntegerBytes())));
    } else {
        text.append(util::BytesToHex(bytes));
    }
    // The hex digits come with blanks between and after them.
    return util::RemoveSpaces(text);
}

DecodedReply DecodeReply(std::span<const std::uint8_t> received) {
    const auto reply = LocateReply(received);
    if (!reply)
        return {};
    const auto fromControl = received.subspan(reply->ControlAt);
    std::string line;
    for (const ReplyField& field : reply->Format->Fields) {
        line.append(field.Label);
        line.append(FieldValueText(field, fromControl));
        line.push_back(';');
    }
    return {reply->Format->Layout, std::move(line)};
}

std::string DecodeMeterData(std::span<const std::uint8_t> received) {
    return DecodeReply(received).Text;
}

} // namespace mbus::protocol

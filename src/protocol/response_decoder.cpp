#include "protocol/response_decoder.h"

#include "util/string_c.h"

#include <algorithm>
#include <array>

namespace mbus::protocol {
namespace {

// `reply` starts at the control code and holds every field of the layout.
std::string RenderFields(std::span<const ReplyField> fields, std::span<const std::uint8_t> reply) {
    std::string line;
    for (const ReplyField& field : fields) {
        std::array<std::uint8_t, kMaxFieldSize> scratch{};
        const auto value = reply.subspan(field.Offset, field.Size);
        std::copy(value.begin(), value.end(), scratch.begin());
        const auto bytes = std::span<std::uint8_t>(scratch).first(field.Size);
        if (field.Order == ByteOrder::Reversed)
            util::ReverseBytes(bytes);

        line.append(field.Label);
        if (field.Decimals != 0) {
            line.append(util::BytesToHex(bytes.first(field.IntegerBytes())));
            line.push_back('.');
            line.append(util::BytesToHex(bytes.subspan(field.IntegerBytes())));
        } else {
            line.append(util::BytesToHex(bytes));
        }
        line.push_back(';');
    }
    // The hex digits come with blanks between and after them; the labels hold none.
    return util::RemoveSpaces(line);
}

} // namespace

DecodedReply DecodeReply(std::span<const std::uint8_t> received) {
    static constexpr DataIdentifier kIdLowFirst{0x90, 0x1F};
    static constexpr DataIdentifier kIdHighFirst{0x1F, 0x90};

    // Only the first occurrence of the first pattern found is ever examined.
    auto found = util::FindBytes(received, kIdLowFirst);
    if (!found)
        found = util::FindBytes(received, kIdHighFirst);
    if (!found || *found < kDataIdAfterControl)
        return {};

    const std::size_t control = *found - kDataIdAfterControl;
    if (received[control] != kControlReadReply)
        return {};
    const ReplyFormat* format = ReplyFormatOf(received[control + kLengthAfterControl]);
    if (!format)
        return {};

    // The checksum and end byte after the fields are not read.
    const std::size_t needed = format->Fields.back().End();
    if (received.size() - control < needed)
        return {};
    return {format->Layout, RenderFields(format->Fields, received.subspan(control, needed))};
}

std::string DecodeMeterData(std::span<const std::uint8_t> received) {
    return DecodeReply(received).Text;
}

} // namespace mbus::protocol

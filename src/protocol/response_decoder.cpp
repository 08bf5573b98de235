#include "protocol/response_decoder.h"

#include "util/string_c.h"

#include <array>
#include <string_view>

namespace mbus::protocol {
namespace {

struct Field {
    std::string_view Label;
    std::uint8_t Size;      // bytes of the value, at most 7
    std::uint8_t Split;     // bytes before the decimal point; 0 = all digits in a row
    std::uint8_t UnitAfter; // unit bytes that follow the value and are stepped over
    bool Reversed;          // sent least significant byte first
};

constexpr std::array<Field, 4> kWaterLayout{{
    {"当前累积流量:", 4, 3, 1, true},
    {"结算日累积流量:", 4, 3, 1, true},
    {"实时时间:", 7, 0, 0, true},
    {"状态:", 2, 0, 0, false},
}};

constexpr std::array<Field, 10> kHeatLayout{{
    {"结算日热量:", 4, 3, 1, true},
    {"当前热量:", 4, 3, 1, true},
    {"热功率:", 4, 3, 1, true},
    {"流速:", 4, 2, 1, true},
    {"累积流量:", 4, 3, 1, true},
    {"供水温度:", 3, 2, 0, true},
    {"回水温度:", 3, 2, 0, true},
    {"累积工作时间:", 3, 0, 0, true},
    {"实时时间:", 7, 0, 0, true},
    {"状态:", 2, 0, 0, false},
}};

constexpr std::uint8_t kControlReadReply = 0x81;
constexpr std::uint8_t kLengthWater = 0x16;
constexpr std::uint8_t kLengthHeat = 0x2E;
// The data fields begin five bytes after the control code (length, identifier, sequence).
constexpr std::size_t kFieldsOffset = 5;

std::string RenderFields(std::span<const Field> layout, std::span<const std::uint8_t> data) {
    std::string line;
    std::size_t pos = 0;
    for (const Field& field : layout) {
        std::array<std::uint8_t, 7> scratch{};
        const auto value = data.subspan(pos, field.Size);
        std::copy(value.begin(), value.end(), scratch.begin());
        const auto bytes = std::span<std::uint8_t>(scratch).first(field.Size);
        if (field.Reversed)
            util::ReverseBytes(bytes);

        line.append(field.Label);
        if (field.Split != 0) {
            line.append(util::BytesToHex(bytes.first(field.Split)));
            line.push_back('.');
            line.append(util::BytesToHex(bytes.subspan(field.Split)));
        } else {
            line.append(util::BytesToHex(bytes));
        }
        line.push_back(';');
        pos += field.Size + field.UnitAfter;
    }
    // The hex digits come with blanks between and after them; the labels hold none.
    return util::RemoveSpaces(line);
}

std::size_t LayoutSpan(std::span<const Field> layout) {
    std::size_t span = 0;
    for (const Field& field : layout)
        span += field.Size + field.UnitAfter;
    return span;
}

} // namespace

DecodedReply DecodeReply(std::span<const std::uint8_t> received) {
    static constexpr std::array<std::uint8_t, 2> kIdLowFirst{0x90, 0x1F};
    static constexpr std::array<std::uint8_t, 2> kIdHighFirst{0x1F, 0x90};

    // Only the first occurrence of the first pattern found is ever examined.
    auto found = util::FindBytes(received, kIdLowFirst);
    if (!found)
        found = util::FindBytes(received, kIdHighFirst);
    if (!found || *found < 2)
        return {};

    const std::size_t control = *found - 2;
    if (received[control] != kControlReadReply)
        return {};

    std::span<const Field> layout;
    ReplyLayout kind;
    switch (received[control + 1]) {
    case kLengthWater:
        layout = kWaterLayout;
        kind = ReplyLayout::Water;
        break;
    case kLengthHeat:
        layout = kHeatLayout;
        kind = ReplyLayout::Heat;
        break;
    default:
        return {};
    }

    const std::size_t first = control + kFieldsOffset;
    const std::size_t needed = LayoutSpan(layout);
    if (first > received.size() || received.size() - first < needed)
        return {};
    return {kind, RenderFields(layout, received.subspan(first, needed))};
}

std::string DecodeMeterData(std::span<const std::uint8_t> received) {
    return DecodeReply(received).Text;
}

} // namespace mbus::protocol

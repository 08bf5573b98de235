#include "protocol/meter_type.h"

#include <array>
#include <cstdio>

namespace mbus::protocol {
namespace {

constexpr std::array<MeterType, 8> kMeterTypes{{
    {"冷水水表", 0x10},
    {"生活热水水表", 0x11},
    {"直饮水水表", 0x12},
    {"中水水表", 0x13},
    {"热量表（计热量）", 0x20},
    {"热量表（计冷量）", 0x21},
    {"燃气表", 0x30},
    {"电度表", 0x40},
}};

} // namespace

std::span<const MeterType> MeterTypes() {
    return kMeterTypes;
}

std::optional<std::uint8_t> MeterTypeCode(int position) {
    if (position < 0 || position >= static_cast<int>(kMeterTypes.size()))
        return std::nullopt;
    return kMeterTypes[static_cast<std::size_t>(position)].Code;
}

std::optional<int> MeterTypePosition(std::string_view itemText) {
    for (std::size_t i = 0; i < kMeterTypes.size(); ++i) {
        if (kMeterTypes[i].ItemText == itemText)
            return static_cast<int>(i);
    }
    return std::nullopt;
}

std::optional<int> MeterTypePositionOfCode(std::uint8_t code) {
    for (std::size_t i = 0; i < kMeterTypes.size(); ++i) {
        if (kMeterTypes[i].Code == code)
            return static_cast<int>(i);
    }
    return std::nullopt;
}

std::optional<std::string_view> MeterTypeText(std::uint8_t code) {
    for (const MeterType& type : kMeterTypes) {
        if (type.Code == code)
            return type.ItemText;
    }
    return std::nullopt;
}

std::string TypeCodeText(std::uint8_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", code);
    return text;
}

bool AnswersInHeatLayout(std::uint8_t code) {
    return (code & 0xF0) == 0x20;
}

} // namespace mbus::protocol

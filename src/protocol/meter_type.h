// The meter types of the console's type list, by position, and their protocol type codes.
// The console looks a code up by the position of the selected item, never by its text.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mbus::protocol {

struct MeterType {
    std::string_view ItemText; // the type list's item text (UTF-8)
    std::uint8_t Code;         // the frame's meter type byte
};

// The eight types, in the order of the console's type list.
std::span<const MeterType> MeterTypes();

// The code of the type at `position`; none for a position outside the list (no item selected).
std::optional<std::uint8_t> MeterTypeCode(int position);

// The position of the type whose item text is exactly `itemText`, or none.
std::optional<int> MeterTypePosition(std::string_view itemText);

// The position of the type with `code` (0x10 is 0), or none for a code not in the list.
std::optional<int> MeterTypePositionOfCode(std::uint8_t code);

// The item text of the type with `code` ("冷水水表" for 0x10), or none for a code not in the list.
std::optional<std::string_view> MeterTypeText(std::uint8_t code);

// A type code as programs and messages write it: "0x10".
std::string TypeCodeText(std::uint8_t code);

// Whether meters of this type answer the read of their data in the heat layout (heat meters,
// 0x20..0x2F) rather than the water and gas one.
bool AnswersInHeatLayout(std::uint8_t code);

} // namespace mbus::protocol

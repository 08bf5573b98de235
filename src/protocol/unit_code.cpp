#include "protocol/unit_code.h"

#include <array>
#include <cstdio>
#include <string_view>
#include <utility>

namespace mbus::protocol {
namespace {

constexpr std::array<std::pair<std::uint8_t, std::string_view>, 16> kUnits{{
    {0x01, "J"},
    {0x02, "Wh"},
    {0x05, "kWh"},
    {0x08, "MWh"},
    {0x0A, "MWh×100"},
    {0x0B, "kJ"},
    {0x0E, "MJ"},
    {0x11, "GJ"},
    {0x13, "GJ×100"},
    {0x14, "W"},
    {0x17, "kW"},
    {0x1A, "MW"},
    {0x29, "L"},
    {0x2C, "m³"},
    {0x32, "L/h"},
    {0x35, "m³/h"},
}};

} // namespace

std::string UnitOfCode(std::uint8_t code) {
    for (const auto& [known, unit] : kUnits) {
        if (known == code)
            return std::string(unit);
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", code);
    return text;
}

} // namespace mbus::protocol

#include "protocol/bcd.h"

namespace mbus::protocol {

void PutBcd(std::uint64_t value, std::span<std::uint8_t> out) {
    for (std::uint8_t& byte : out) {
        const auto low = static_cast<std::uint8_t>(value % 10);
        value /= 10;
        const auto high = static_cast<std::uint8_t>(value % 10);
        value /= 10;
        byte = static_cast<std::uint8_t>(high << 4 | low);
    }
}

std::optional<std::uint64_t> BcdValue(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > 9)
        return std::nullopt;
    std::uint64_t value = 0;
    for (auto byte = bytes.rbegin(); byte != bytes.rend(); ++byte) {
        const int high = *byte >> 4;
        const int low = *byte & 0x0F;
        if (high > 9 || low > 9)
            return std::nullopt;
        value = value * 100 + static_cast<std::uint64_t>(high * 10 + low);
    }
    return value;
}

} // namespace mbus::protocol

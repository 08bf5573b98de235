// Binary-coded decimal as the household meter protocol carries numbers: two decimal digits a byte,
// the lowest two digits in the first byte on the line. Request builders, the simulated meter's
// replies and whoever reads a value back as a number use these.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace mbus::protocol {

// Writes `value` as BCD, its two lowest digits in the first byte; digits beyond the bytes drop.
void PutBcd(std::uint64_t value, std::span<std::uint8_t> out);

// The number the BCD bytes (lowest digits first) stand for, or none when a half-byte is no
// decimal digit. At most nine bytes.
std::optional<std::uint64_t> BcdValue(std::span<const std::uint8_t> bytes);

} // namespace mbus::protocol

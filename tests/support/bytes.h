// Byte vectors for test data: from a text's characters as they are, or from hex text.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace mbus::testing {

using ByteVector = std::vector<std::uint8_t>;

// Each character of `text` as one byte.
ByteVector BytesOf(std::string_view text);

// The bytes that hex text such as "68 10 AA" stands for (pairs of hex digits, other characters
// skipped).
ByteVector BytesFromHex(std::string_view hex);

} // namespace mbus::testing

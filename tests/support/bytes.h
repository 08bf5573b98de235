// Byte vectors and byte strings for test data: from a text's characters as they are, from hex
// text, or from byte values.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace mbus::testing {

using ByteVector = std::vector<std::uint8_t>;

// Each character of `text` as one byte.
ByteVector BytesOf(std::string_view text);

// The bytes that hex text such as "68 10 AA" stands for (pairs of hex digits, other characters
// skipped).
ByteVector BytesFromHex(std::string_view hex);

// A byte string from byte values, so zero bytes and high bytes are written plainly.
std::string CharsOf(std::initializer_list<int> values);

} // namespace mbus::testing

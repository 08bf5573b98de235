#include "support/bytes.h"

#include "util/string_c.h"

#include <string>

namespace mbus::testing {

ByteVector BytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

ByteVector BytesFromHex(std::string_view hex) {
    return BytesOf(util::HexToBytes(hex));
}

std::string CharsOf(std::initializer_list<int> values) {
    std::string text;
    for (const int v : values)
        text.push_back(static_cast<char>(v));
    return text;
}

} // namespace mbus::testing

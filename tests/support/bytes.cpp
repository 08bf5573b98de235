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

} // namespace mbus::testing

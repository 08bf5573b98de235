// HexToBytes, both overloads: the byte string and the caller's buffer agree, the buffer is never
// written past its end, the count is always the full count, and hex text round-trips.
#include "fuzz_check.h"
#include "util/string_c.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using mbus::fuzz::Check;
namespace util = mbus::util;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string bytes = util::HexToBytes(text);

    std::size_t digits = 0;
    for (const std::uint8_t b : util::AsBytes(text)) {
        if ((b >= '0' && b <= '9') || (b >= 'a' && b <= 'f') || (b >= 'A' && b <= 'F'))
            ++digits;
    }
    Check(bytes.size() == digits / 2, "one byte per complete pair of hex digits");

    // A small buffer whose size comes from the input, in an exactly sized heap block.
    const std::size_t capacity = size == 0 ? 0 : data[0] % 9;
    std::vector<std::uint8_t> buffer(capacity);
    const std::size_t count = util::HexToBytes(text, buffer);
    Check(count == bytes.size(), "buffer overload reports the full count");
    const std::size_t written = std::min(capacity, count);
    Check(std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(written),
                     util::AsBytes(bytes).begin()),
          "buffer overload writes the same bytes");

    // Bytes -> hex -> bytes gives the bytes back, spaced or trimmed.
    const std::string hex = util::BytesToHex(util::AsBytes(bytes));
    Check(util::HexToBytes(hex) == bytes, "hex of the bytes reads back");
    Check(util::HexToBytes(std::string_view(hex).substr(0, hex.empty() ? 0 : hex.size() - 1)) ==
              bytes,
          "trimmed hex reads back");
    // The raw input as bytes round-trips too.
    Check(util::HexToBytes(util::BytesToHex(util::AsBytes(text))) == text,
          "any byte string round-trips through its hex text");
    return 0;
}

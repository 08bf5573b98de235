// RemoveSpaces/RemoveChar remove every byte equal to the character; RemoveTextBlanks removes only
// the blanks before the first zero byte that are not the trail byte of a double-byte character.
#include "fuzz_check.h"
#include "util/string_c.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using mbus::fuzz::Check;
namespace util = mbus::util;

namespace {

std::string WithoutByte(std::string_view text, char c) {
    std::string out;
    for (const char b : text) {
        if (b != c)
            out += b;
    }
    return out;
}

// Character by character over the part before the first zero byte: a lead byte 0x81..0xFE with a
// byte after it (inside that part) is one character, every other byte is one; single-byte blanks
// go. The zero byte and everything after it are kept.
std::string AwareBlankRemoval(std::string_view text) {
    const std::size_t end = std::min(text.find('\0'), text.size());
    const std::string_view head = text.substr(0, end);
    std::string out;
    std::size_t i = 0;
    while (i < head.size()) {
        const auto b = static_cast<std::uint8_t>(head[i]);
        const std::size_t length = (b >= 0x81 && b <= 0xFE && i + 1 < head.size()) ? 2 : 1;
        if (!(length == 1 && b == ' '))
            out.append(head.substr(i, length));
        i += length;
    }
    out.append(text.substr(end));
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    Check(util::RemoveSpaces(text) == WithoutByte(text, ' '), "every 0x20 byte goes");
    const char c = size == 0 ? '\0' : static_cast<char>(data[0]);
    Check(util::RemoveChar(text, c) == WithoutByte(text, c), "every byte equal to c goes");

    const std::string kept = util::RemoveTextBlanks(text);
    Check(kept == AwareBlankRemoval(text), "aware blank removal");
    Check(util::RemoveTextBlanks(kept) == kept, "aware blank removal is idempotent");
    Check(util::RemoveSpaces(kept) == util::RemoveSpaces(text), "only blanks are removed");
    return 0;
}

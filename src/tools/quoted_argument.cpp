#include "tools/quoted_argument.h"

#include "util/utf8_text.h"

#include <algorithm>
#include <cstdio>

namespace mbus::tools {
namespace {

std::string EscapedByte(unsigned char byte) {
    switch (byte) {
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '\t':
        return "\\t";
    default:
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        return escaped;
    }
}

} // namespace

std::string ShownText(std::string_view text, std::size_t shownCharacters) {
    std::string shown;
    std::size_t characters = 0;
    while (!text.empty()) {
        if (characters == shownCharacters) {
            shown += "...";
            break;
        }
        const auto lead = static_cast<unsigned char>(text.front());
        const std::size_t length = util::Utf8CharacterLength(text);
        // C0 controls, DEL, and the C1 controls U+0080..U+009F that some terminals obey as well.
        const bool control =
            lead < 0x20 || lead == 0x7F ||
            (length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[1]) < 0xA0);
        if (length == 0 || control) {
            for (std::size_t i = 0; i < std::max<std::size_t>(length, 1); ++i)
                shown += EscapedByte(static_cast<unsigned char>(text[i]));
            text.remove_prefix(std::max<std::size_t>(length, 1));
        } else {
            shown.append(text.substr(0, length));
            text.remove_prefix(length);
        }
        ++characters;
    }
    return shown;
}

std::string QuotedArgument(std::string_view text) {
    return "'" + ShownText(text) + "'";
}

} // namespace mbus::tools

#include "tools/json_text.h"

#include "util/utf8_text.h"

namespace mbus::tools {

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    // Quotes and backslashes are single bytes that no UTF-8 character holds, so the text between
    // them escapes on its own.
    for (;;) {
        const std::size_t special = text.find_first_of("\"\\");
        out += util::EscapedUtf8Text(text.substr(0, special));
        if (special == std::string_view::npos)
            break;
        out += '\\';
        out += text[special];
        text.remove_prefix(special + 1);
    }
    out += '"';
    return out;
}

} // namespace mbus::tools

#include "tools/json_text.h"

#include "util/utf8_text.h"

#include <cstdio>

namespace mbus::tools {

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    const auto escape = [&](unsigned char byte) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
        out += escaped;
    };
    while (!text.empty()) {
        const char c = text.front();
        const std::size_t length = util::Utf8CharacterLength(text);
        if (length == 0) {
            // A byte that is no part of a UTF-8 character: the character of the same number, so
            // the output stays valid JSON and the byte can still be told.
            escape(static_cast<unsigned char>(c));
            text.remove_prefix(1);
            continue;
        }
        if (length > 1) {
            out.append(text.substr(0, length));
            text.remove_prefix(length);
            continue;
        }
        text.remove_prefix(1);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                escape(static_cast<unsigned char>(c));
            else
                out.push_back(c);
        }
    }
    out += '"';
    return out;
}

} // namespace mbus::tools

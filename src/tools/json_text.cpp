#include "tools/json_text.h"

#include <cstdio>

namespace mbus::tools {

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
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
            if (b < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
                out += escaped;
            } else {
                out.push_back(c);
            }
        }
    }
    out += '"';
    return out;
}

} // namespace mbus::tools

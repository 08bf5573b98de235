// UTF-8 checks and escapes for text that came from outside (arguments, device paths, file names),
// which may hold any bytes: what is not UTF-8 is escaped before it goes into JSON, CSV or a
// message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mbus::util {

// The length in bytes (1..4) of the well-formed UTF-8 character that `text` starts with, or 0
// when it starts with none (an empty text, a stray continuation byte, an overlong form, a
// surrogate, a code point above U+10FFFF, a sequence cut short).
std::size_t Utf8CharacterLength(std::string_view text);

// `text` as UTF-8 on one line, whatever bytes it holds: UTF-8 characters as they are, control
// characters as JSON escapes them (\n, \r, \t, else \u001b), and each byte that is not part of a
// UTF-8 character as the character of its number (\u0080 to \u00ff). Quotes and backslashes stay
// as they are: the caller quotes for its own format.
std::string EscapedUtf8Text(std::string_view text);

} // namespace mbus::util

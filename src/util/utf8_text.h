// UTF-8 checks for text that came from outside (arguments, device paths, file names), which may
// hold any bytes: the tools escape what is not UTF-8 before it goes into JSON or a message.
#pragma once

#include <cstddef>
#include <string_view>

namespace mbus::util {

// The length in bytes (1..4) of the well-formed UTF-8 character that `text` starts with, or 0
// when it starts with none (an empty text, a stray continuation byte, an overlong form, a
// surrogate, a code point above U+10FFFF, a sequence cut short).
std::size_t Utf8CharacterLength(std::string_view text);

} // namespace mbus::util

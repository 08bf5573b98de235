// Conversion between the program's UTF-8 texts and GBK (code page 936) byte strings. The console
// counts and scans the bytes of typed texts in GBK, as the meter engineers' platform always has.
#pragma once

#include <string>
#include <string_view>

namespace mbus::util {

// GBK bytes of a UTF-8 text; a character GBK cannot hold becomes '?'.
std::string Utf8ToGbk(std::string_view utf8);

// UTF-8 text of GBK bytes; a byte sequence that is not GBK becomes U+FFFD.
std::string GbkToUtf8(std::string_view gbk);

} // namespace mbus::util

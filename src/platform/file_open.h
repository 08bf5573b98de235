// Opening a file named in UTF-8, as the layers above name files (Qt's file dialogs, the command
// line): on Windows through the system's wide-character call, because the C runtime's fopen reads
// a name in the ANSI code page, where a Chinese name becomes another name, or none.
#pragma once

#include <cstdio>
#include <string>

namespace mbus::platform {

// std::fopen with its modes ("wb", "ab", ...); null with errno set when the file cannot be
// opened (EINVAL for a name that is not UTF-8, on Windows).
std::FILE* OpenFile(const std::string& utf8Path, const char* mode);

} // namespace mbus::platform

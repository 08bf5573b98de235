// JSON string literals for the machine-readable output of the `mbus` subcommands.
#pragma once

#include <string>
#include <string_view>

namespace mbus::tools {

// `text` as a quoted JSON string, valid whatever bytes it holds: UTF-8 characters as they are,
// control characters escaped as \uXXXX, and each byte that is not part of a UTF-8 character
// (a device path may hold any) as the character of its number, \u0080 to \u00ff.
std::string JsonString(std::string_view text);

} // namespace mbus::tools

// JSON string literals for the machine-readable output of the `mbus` subcommands.
#pragma once

#include <string>
#include <string_view>

namespace mbus::tools {

// `text` (UTF-8) as a quoted JSON string; control characters are escaped as \uXXXX.
std::string JsonString(std::string_view text);

} // namespace mbus::tools

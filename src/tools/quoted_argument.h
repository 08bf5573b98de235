// Text that came from outside (an argument, a device path) as the tools repeat it in a one-line
// message: control characters and bytes that are not UTF-8 escaped ("\n", "\x1B"), and cut to a
// readable length, so a message stays one line and prints no live escape sequence.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mbus::tools {

// The characters an argument shows before it is cut ("..." follows).
inline constexpr std::size_t kShownCharacters = 40;

// `text` escaped, and cut after `shownCharacters` characters.
std::string ShownText(std::string_view text, std::size_t shownCharacters = kShownCharacters);

// ShownText in single quotes, as messages quote an argument.
std::string QuotedArgument(std::string_view text);

} // namespace mbus::tools

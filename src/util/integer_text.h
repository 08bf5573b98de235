// Integer conversion of a text as the console's port number, baud rate and timed-send period use
// it: blanks before, an optional sign, "$", "x", "X", "0x" or "0X" for hexadecimal, digits to the
// end of the text, 32-bit signed range. Anything else is an error with the message
// "'<text>' is not a valid integer value".
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace mbus::util {

// Raised by StrToInt; its message is the one the application's error box shows.
class ConvertError : public std::runtime_error {
public:
    explicit ConvertError(const std::string& message) : std::runtime_error(message) {}
};

// The value of the text, or none when it is not an integer in the rules above.
std::optional<std::int32_t> TryStrToInt(std::string_view text);

// The value of the text; throws ConvertError when it is not an integer.
std::int32_t StrToInt(std::string_view text);

} // namespace mbus::util

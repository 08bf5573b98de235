// Options of the `mbus` subcommands that talk through a serial port (`read`, `address`): whole
// numbers within a range by the console's integer conversion, and the parity by name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "serial/com_port.h"

namespace mbus::tools {

class OptionParser;

// A whole number within [low, high] of the option, by the console's integer conversion; the
// default when the option is absent; none with `error` set when it is out of range or no number.
std::optional<std::int32_t> NumberOption(const OptionParser& options, const char* name,
                                         std::int32_t low, std::int32_t high, std::int32_t fallback,
                                         std::string& error);

// The parity of "none", "odd", "even", "mark" or "space", or none.
std::optional<serial::TParity> ParityOfName(std::string_view name);

} // namespace mbus::tools

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

// The parity --parity names ("none", "odd", "even", "mark" or "space"; "none" when absent), or
// none with `error` set for another name.
std::optional<serial::TParity> ParityOption(const OptionParser& options, std::string& error);

} // namespace mbus::tools

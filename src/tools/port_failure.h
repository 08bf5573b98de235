// The message of a failure of the serial port for the `mbus` subcommands that talk through one
// (`read`, `address`): the port component's own text, then what really went wrong where that is
// known, so "ie_Open - device already open" for a device the user may not open says so.
#pragma once

#include <exception>
#include <string>

namespace mbus::tools {

enum class PortStep { Opening, Sending };

// The exception's text, and after "; " the cause: the platform's word on the failed open, or
// for a send the state of the line (hung up, or taking no more bytes).
std::string PortFailureText(const std::exception& failure, PortStep step);

} // namespace mbus::tools

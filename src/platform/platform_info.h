// Facts about the platform the program runs on, as the serial component asks for them.
#pragma once

#include <cstdint>
#include <string>

namespace mbus::platform {

// Whether the system behaves as the NT family: serial drivers without the ring trailing-edge
// event, no UART port access from programs, RTS toggling in the device control block. True on
// Linux.
bool IsNtFamily();

// The name and version of the tool chain that built the program ("GCC 12.2.0", "Clang 14.0.6").
std::string CompilerDescription();

} // namespace mbus::platform

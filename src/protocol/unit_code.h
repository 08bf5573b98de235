// The unit bytes that follow the quantities of a reply, as the household meter protocol codes
// them: energy, power, volume and flow.
#pragma once

#include <cstdint>
#include <string>

namespace mbus::protocol {

// The unit a code stands for ("m³", "kWh", "MWh×100", ...), or "0xNN" (upper-case digits) for a
// code the protocol does not define.
std::string UnitOfCode(std::uint8_t code);

} // namespace mbus::protocol

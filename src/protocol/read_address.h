// The read-address request, which asks any meter on the line for its address: wildcard address
// AA..AA, control 0x03, identifier 81 0A, sequence 00. The meter's reply (control 0x83, its type
// and address in the header) is a ParsedReply of kind ReadAddress. Field engineers send it first
// when a meter's label is missing or worn.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/frame_layout.h"

namespace mbus::protocol {

// Two wake-up bytes, then 0x68, `typeCode`, AA x 7, 0x03, 0x03, `dataId`, 0x00, sum, 0x16. Most
// meters take the wildcard type AA; some want their own type code.
std::vector<std::uint8_t> BuildReadAddressRequest(std::uint8_t typeCode = kWildcardByte,
                                                  const DataIdentifier& dataId = kReadAddressId);

} // namespace mbus::protocol

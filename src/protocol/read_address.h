// The read-address exchange: the request that asks any meter on the line for its address
// (wildcard address AA..AA, control 0x03, identifier 81 0A, sequence 00), and finding its reply
// (control 0x83, the meter's type and address in the header) in received bytes. Field engineers
// send it first when a meter's label is missing or worn.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/frame_check.h"
#include "protocol/frame_layout.h"

namespace mbus::protocol {

// Two wake-up bytes, then 0x68, `typeCode`, AA x 7, 0x03, 0x03, `dataId`, 0x00, sum, 0x16. Most
// meters take the wildcard type AA; some want their own type code.
std::vector<std::uint8_t> BuildReadAddressRequest(std::uint8_t typeCode = kWildcardByte,
                                                  const DataIdentifier& dataId = kReadAddressId);

struct AddressReply {
    std::uint8_t TypeCode = 0;
    LineAddress Address{}; // as on the line, least significant byte first
    FrameCheck Check;
};

// The first read-address reply in `received`: the identifier 81 0A (or 0A 81) with the control
// code 0x83 two bytes before it and the whole header in the chunk. Other occurrences of the
// identifier (the echo of the request, data bytes) are passed over. `request` is the request it
// answers, or null.
std::optional<AddressReply> FindAddressReply(std::span<const std::uint8_t> received,
                                             const ReadRequest* request);

} // namespace mbus::protocol

#include "protocol/read_address.h"

namespace mbus::protocol {

std::vector<std::uint8_t> BuildReadAddressRequest(std::uint8_t typeCode,
                                                  const DataIdentifier& dataId) {
    LineAddress wildcard;
    wildcard.fill(kWildcardByte);
    std::vector<std::uint8_t> bytes(kRequestWakeUpBytes, kWakeUpByte);
    bytes.resize(kRequestWakeUpBytes + MessageSize(kRequestDataLength));
    const auto message = std::span<std::uint8_t>(bytes).subspan(kRequestWakeUpBytes);
    WriteMessageHead(message, typeCode, wildcard, kControlReadAddress, kRequestDataLength, dataId);
    message[kSequenceAt] = 0x00;
    WriteMessageTail(message, kRequestDataLength);
    return bytes;
}

} // namespace mbus::protocol

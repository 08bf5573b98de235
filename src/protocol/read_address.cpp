#include "protocol/read_address.h"

#include <algorithm>

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

std::optional<AddressReply> FindAddressReply(std::span<const std::uint8_t> received,
                                             const ReadRequest* request) {
    for (std::size_t at = kDataIdAt; at + kDataIdSize <= received.size(); ++at) {
        const bool identifier =
            (received[at] == kReadAddressId[0] && received[at + 1] == kReadAddressId[1]) ||
            (received[at] == kReadAddressId[1] && received[at + 1] == kReadAddressId[0]);
        const std::size_t control = at - kDataIdAfterControl;
        if (!identifier || received[control] != kControlReadAddressReply)
            continue;
        const auto header = received.subspan(control - kControlAt);
        AddressReply reply;
        reply.TypeCode = header[kTypeAt];
        std::copy_n(header.begin() + kAddressAt, kAddressSize, reply.Address.begin());
        reply.Check = CheckFrame(received, control, request);
        return reply;
    }
    return std::nullopt;
}

} // namespace mbus::protocol

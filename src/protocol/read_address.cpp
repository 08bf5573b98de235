#include "protocol/read_address.h"

#include "protocol/request.h"

namespace mbus::protocol {

std::vector<std::uint8_t> BuildReadAddressRequest(std::uint8_t typeCode,
                                                  const DataIdentifier& dataId) {
    ReadRequest request;
    request.Control = kControlReadAddress;
    request.TypeCode = typeCode;
    request.Address.fill(kWildcardByte);
    request.DataId = dataId;
    return BuildRequest(request);
}

} // namespace mbus::protocol

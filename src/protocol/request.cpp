#include "protocol/request.h"

#include "util/string_c.h"

#include <algorithm>

namespace mbus::protocol {

RequestScan ScanReadRequest(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kRequestSize = MessageSize(kRequestDataLength);
    constexpr std::size_t kChecksumAt = ChecksumAt(kRequestDataLength);
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        if (bytes[at] != kStartByte)
            continue;
        if (bytes.size() - at < kRequestSize)
            return {std::nullopt, at}; // may still be completed by bytes to come
        const auto frame = bytes.subspan(at, kRequestSize);
        const std::uint8_t control = frame[kControlAt];
        if ((control != kControlRead && control != kControlReadAddress) ||
            frame[kLengthAt] != kRequestDataLength ||
            frame[kChecksumAt] != util::SumBytes(frame.first(kChecksumAt)) ||
            frame[kChecksumAt + 1] != kEndByte)
            continue;
        ReadRequest request;
        request.Control = control;
        request.TypeCode = frame[kTypeAt];
        std::copy_n(frame.begin() + kAddressAt, kAddressSize, request.Address.begin());
        std::copy_n(frame.begin() + kDataIdAt, kDataIdSize, request.DataId.begin());
        request.Sequence = frame[kSequenceAt];
        return {request, at + kRequestSize};
    }
    return {std::nullopt, bytes.size()};
}

} // namespace mbus::protocol

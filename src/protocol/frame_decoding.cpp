#include "protocol/frame_decoding.h"

#include "protocol/frame_layout.h"
#include "protocol/response_decoder.h"
#include "util/string_c.h"

#include <algorithm>

namespace mbus::protocol {

std::string DecodeReceivedFrame(std::string_view addressText, std::span<const std::uint8_t> frame) {
    // Converted in full, so an address of more than seven bytes is seen as such.
    if (util::HexToBytes(addressText).size() != kAddressSize)
        return {};
    return DecodeMeterData(frame.first(std::min(frame.size(), kAnalyseBufferSize)));
}

} // namespace mbus::protocol

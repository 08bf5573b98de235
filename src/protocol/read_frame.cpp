#include "protocol/read_frame.h"

#include "util/string_c.h"

#include <algorithm>

namespace mbus::protocol {

void BuildReadFrame(ReadFrameBuffer& frame, std::span<const std::uint8_t, 7> address,
                    std::uint8_t typeCode, std::uint8_t controlCode,
                    std::span<const std::uint8_t, 2> dataId) {
    std::array<std::uint8_t, 7> reversed;
    std::copy(address.begin(), address.end(), reversed.begin());
    util::ReverseBytes(reversed);

    frame[0] = 0xFE;
    frame[1] = 0xFE;
    frame[2] = 0x68;
    frame[kFrameTypeOffset] = typeCode;
    std::copy(reversed.begin(), reversed.end(), frame.begin() + kFrameAddressOffset);
    frame[11] = controlCode;
    frame[12] = 0x03;
    frame[13] = dataId[0];
    frame[14] = dataId[1];
    // The sequence number (offset 15) is never written.
    frame[kFrameChecksumOffset] =
        util::SumBytes(std::span<const std::uint8_t>(frame).subspan(2, 14));
    frame[17] = 0x16;
}

} // namespace mbus::protocol

#include "protocol/read_frame.h"

#include "util/string_c.h"

#include <algorithm>

namespace mbus::protocol {

void BuildReadFrame(ReadFrameBuffer& frame, std::span<const std::uint8_t, 7> address,
                    std::uint8_t typeCode, std::uint8_t controlCode,
                    std::span<const std::uint8_t, 2> dataId) {
    LineAddress reversed;
    std::copy(address.begin(), address.end(), reversed.begin());
    util::ReverseBytes(reversed);

    std::fill_n(frame.begin(), kRequestWakeUpBytes, kWakeUpByte);
    // The sequence number is never written: the head stops before it and the tail after it.
    const auto message = std::span<std::uint8_t>(frame).subspan(kRequestWakeUpBytes);
    WriteMessageHead(message, typeCode, reversed, controlCode, kRequestDataLength,
                     {dataId[0], dataId[1]});
    WriteMessageTail(message, kRequestDataLength);
}

} // namespace mbus::protocol

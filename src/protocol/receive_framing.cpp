#include "protocol/receive_framing.h"

#include <algorithm>

namespace mbus::protocol {

void ReceiveByte(ComRec_Struct& frame, char byte) {
    frame.RecData.push_back(byte);
    frame.RecDone = false;
    frame.IdleTicks = 0;
}

bool IdleTick(ComRec_Struct& frame, std::uint16_t quietTicks) {
    ++frame.IdleTicks;
    if (frame.IdleTicks <= quietTicks)
        return false;
    frame.IdleTicks = 0;
    frame.RecDone = true;
    return !frame.RecData.empty();
}

std::uint16_t QuietTicksOfGap(std::uint32_t gapMs) {
    constexpr std::uint32_t kTickMs = 5;
    constexpr std::uint32_t kMostTicks = 0xFFFF;
    const std::uint32_t ticks = std::min((gapMs + kTickMs - 1) / kTickMs, kMostTicks);
    return static_cast<std::uint16_t>(ticks > 1 ? ticks - 1 : 1);
}

} // namespace mbus::protocol

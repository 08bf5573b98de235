#include "protocol/receive_framing.h"

namespace mbus::protocol {

void ReceiveByte(ComRec_Struct& frame, char byte) {
    frame.RecData.push_back(byte);
    frame.RecDone = false;
    frame.IdleTicks = 0;
}

bool IdleTick(ComRec_Struct& frame) {
    ++frame.IdleTicks;
    if (frame.IdleTicks <= kQuietTicks)
        return false;
    frame.IdleTicks = 0;
    frame.RecDone = true;
    return !frame.RecData.empty();
}

} // namespace mbus::protocol

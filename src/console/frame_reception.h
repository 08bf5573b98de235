// Receive framing on the window: the port's data event moves every received byte into the
// accumulator RxFrame and counts it; the 5 ms idle tick declares the bytes one frame once the
// line has been quiet for more than ten ticks, shows it in the traffic view and decodes it.
// While a round of meters runs, the data event also ends the frame as soon as it ends in the
// whole answer to the round's request (ExchangeMonitor::EndsAnswer).
#pragma once

#include "protocol/receive_framing.h"

namespace mbus::console {

// The receive accumulator: filled by ComPortTriggerAvail, consumed by tmr1Timer, emptied by the
// clear command.
extern protocol::ComRec_Struct RxFrame;

} // namespace mbus::console

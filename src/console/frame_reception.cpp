#include "console/frame_reception.h"

#include "console/exchange_monitor.h"
#include "console/frame_analysis.h"
#include "console/main_window.h"
#include "console/traffic_counters.h"
#include "console/traffic_view.h"
#include "serial/com_port.h"

#include <QTimer>

#include <utility>

namespace mbus::console {

protocol::ComRec_Struct RxFrame;

namespace {

// One complete frame: shown, written to the traffic log file, and analysed once it is whole.
void CompleteFrame(const std::string& frame) {
    ShowRxHex(frame);
    Form1->LogTraffic("RX", frame);
    // A reply the line delivers in bursts is analysed once it is whole.
    if (const auto whole = Form1->Exchanges->FrameCompleted(frame))
        AnalyseFrame(*whole);
}

} // namespace

void TForm1::ComPortTriggerAvail(serial::TComponent* /*CP*/, std::uint16_t Count) {
    // While a close is in progress the port hands out no bytes (ReadChar gives a zero byte that
    // never came over the line); the waiting bytes go with the close, so nothing is taken or
    // counted.
    if (ComPort->PortState() == serial::psClosing)
        return;
    // A frame is pending from the first byte on: the idle timer runs again.
    if (FrameTimerPaused && Count > 0) {
        FrameTimerPaused = false;
        tmr1->start();
    }
    // A failing ReadChar ends the event here: the bytes taken so far stay, the event is not
    // counted.
    for (std::uint16_t i = 0; i < Count; ++i)
        protocol::ReceiveByte(RxFrame, ComPort->ReadChar());
    RecvCount += Count;
    ShowRecvCount();
    // While a round of meters runs, its exchange ends as soon as the answer is whole: the frame
    // is complete now, and the next meter's request need not wait for the quiet gap. Anything
    // else (and everything outside a round) waits for the gap.
    if (Exchanges->EndsAnswer(RxFrame.RecData))
        CompleteFrame(std::exchange(RxFrame.RecData, std::string()));
}

void TForm1::tmr1Timer(QObject* /*Sender*/) {
    const bool frameDue = protocol::IdleTick(RxFrame, QuietTicks);
    // The frame leaves the accumulator before it is shown and decoded, so a failure in either
    // step cannot bring the same frame back at every later tick.
    const std::string frame = frameDue ? std::exchange(RxFrame.RecData, std::string()) : "";
    // At the end of a quiet cycle with nothing pending the ticks would only count round again:
    // tmr1 pauses until bytes arrive, so an idle console does not wake every 5 ms.
    if (RxFrame.IdleTicks == 0 && RxFrame.RecData.empty() && tmr1->isActive()) {
        tmr1->stop();
        FrameTimerPaused = true;
    }
    if (frameDue)
        CompleteFrame(frame);
}

} // namespace mbus::console

// The clear command: both views emptied, the frame being collected dropped, the three counters
// back to 0. The port and timed sending go on as they were.
#include "console/exchange_monitor.h"
#include "console/frame_reception.h"
#include "console/main_window.h"
#include "console/rich_text_view.h"
#include "console/traffic_counters.h"
#include "console/traffic_view.h"

namespace mbus::console {

void TForm1::sButton1Click(QObject* /*Sender*/) {
    redtComRechex->clear();
    TakeInsertionPoint();
    redtDecode->clear();
    // The idle count and the done flag stay as they are: bytes still to come make a frame of
    // their own once the line is quiet.
    RxFrame.RecData.clear();
    Exchanges->DropHeld();
    RecvCount = 0;
    ShowRecvCount();
    SendCount = 0;
    ShowSendCount();
    ParsedCount = 0;
    ShowParsedCount();
}

} // namespace mbus::console

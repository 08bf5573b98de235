#include "console/frame_analysis.h"

#include "console/exchange_monitor.h"
#include "console/main_window.h"
#include "console/rich_text_view.h"
#include "console/traffic_counters.h"
#include "protocol/parsed_reply.h"
#include "util/gbk_text.h"
#include "util/string_c.h"

#include <QLineEdit>
#include <QScrollBar>
#include <QTextCursor>

namespace mbus::console {

void AnalyseFrame(const std::string& Data) {
    // The frame's reply is found once; the decode view and the readings log both read it. A
    // round's request names its meter itself, so its reply is decoded whatever edtAddr holds.
    const std::string addressText = Form1->Exchanges->RoundAddressText().value_or(
        util::Utf8ToGbk(Form1->edtAddr->text().toStdString()));
    const std::optional<protocol::ParsedReply> reply =
        protocol::ParseReceivedFrame(addressText, util::AsBytes(Data));
    NoteFrameAnalysed(Data, reply);

    // Replies are told from noise by the length of the decoded text in bytes, as the engineers'
    // platform counted it.
    if (!reply || util::Utf8ToGbk(reply->Line).size() <= 5)
        return;
    ++ParsedCount;
    QTextCursor cursor(Form1->redtDecode->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromStdString(reply->Line) + QStringLiteral("\r\n"));
    // The view follows its newest line, as the traffic view does.
    QScrollBar& scrollBar = *Form1->redtDecode->verticalScrollBar();
    scrollBar.setValue(scrollBar.maximum());
    ShowParsedCount();
}

} // namespace mbus::console

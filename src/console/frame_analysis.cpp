#include "console/frame_analysis.h"

#include "console/main_window.h"
#include "console/readings_log.h"
#include "console/rich_text_view.h"
#include "console/traffic_counters.h"
#include "protocol/frame_decoding.h"
#include "util/gbk_text.h"
#include "util/string_c.h"

#include <QLineEdit>
#include <QScrollBar>
#include <QTextCursor>

namespace mbus::console {

void AnalyseFrame(const std::string& Data) {
    const std::string text = protocol::DecodeReceivedFrame(
        util::Utf8ToGbk(Form1->edtAddr->text().toStdString()), util::AsBytes(Data));
    NoteFrameAnalysed(Data, text);

    // Replies are told from noise by the length of the decoded text in bytes, as the engineers'
    // platform counted it.
    if (util::Utf8ToGbk(text).size() <= 5)
        return;
    ++ParsedCount;
    QTextCursor cursor(Form1->redtDecode->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromStdString(text) + QStringLiteral("\r\n"));
    // The view follows its newest line, as the traffic view does.
    QScrollBar& scrollBar = *Form1->redtDecode->verticalScrollBar();
    scrollBar.setValue(scrollBar.maximum());
    ShowParsedCount();
}

} // namespace mbus::console

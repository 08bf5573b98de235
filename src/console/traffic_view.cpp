#include "console/traffic_view.h"

#include "console/main_window.h"
#include "console/rich_text_view.h"
#include "util/string_c.h"

#include <QCheckBox>
#include <QScrollBar>
#include <QTextCursor>

#include <algorithm>

namespace mbus::console {

std::int32_t LastLine = 0;
std::int32_t LastCol = 0;

namespace {

int TextEnd(RichTextView& view) {
    return view.document()->characterCount() - 1;
}

// Takes the insertion point from a position of the view.
void TakeInsertionPoint(RichTextView& view, int position) {
    LastLine = view.LineFromChar(position);
    LastCol = position - view.LineIndex(LastLine);
}

} // namespace

void ShowRxHex(const std::string& Data) {
    RichTextView& view = *Form1->redtComRechex;
    // The caret goes to the insertion point with nothing selected, whatever the user clicked or
    // selected; a point the text no longer reaches is its end.
    const int lineStart = view.LineIndex(LastLine);
    const int end = TextEnd(view);
    QTextCursor cursor = view.textCursor();
    cursor.setPosition(lineStart < 0 ? end : std::clamp(lineStart + LastCol, 0, end));

    // Every received byte is shown, blanks (0x20) and zero bytes too: the view is the record of
    // the line, and the saved file is the view.
    const std::string hex = util::BytesToHexTrimmed(util::AsBytes(Data));
    cursor.insertText(QString::fromLatin1(hex.data(), qsizetype(hex.size())));
    // The view keeps a CR LF as one line break (one character position).
    if (Form1->ckbLR->isChecked())
        cursor.insertText(QStringLiteral("\r\n"));
    view.setTextCursor(cursor);

    QScrollBar& scrollBar = *view.verticalScrollBar();
    scrollBar.setValue(scrollBar.maximum());
    TakeInsertionPoint();
}

void TakeInsertionPoint() {
    RichTextView& view = *Form1->redtComRechex;
    TakeInsertionPoint(view, view.textCursor().position());
}

void KeepInsertionPointAtEnd() {
    RichTextView& view = *Form1->redtComRechex;
    TakeInsertionPoint(view, TextEnd(view));
}

} // namespace mbus::console

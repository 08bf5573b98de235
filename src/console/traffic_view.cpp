#include "console/traffic_view.h"

#include "console/main_window.h"
#include "console/rich_text_view.h"
#include "util/string_c.h"

#include <QCheckBox>
#include <QDateTime>
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

namespace {

// The caret at the insertion point with nothing selected, whatever the user clicked or selected;
// a point the text no longer reaches is its end.
QTextCursor InsertionCursor(RichTextView& view) {
    const int lineStart = view.LineIndex(LastLine);
    const int end = TextEnd(view);
    QTextCursor cursor = view.textCursor();
    cursor.setPosition(lineStart < 0 ? end : std::clamp(lineStart + LastCol, 0, end));
    return cursor;
}

// Leaves the caret after what was inserted, scrolls to the bottom and takes the new insertion
// point.
void FinishInsertion(RichTextView& view, const QTextCursor& cursor) {
    view.setTextCursor(cursor);
    QScrollBar& scrollBar = *view.verticalScrollBar();
    scrollBar.setValue(scrollBar.maximum());
    console::TakeInsertionPoint();
}

// Every byte as hex: blanks (0x20) and zero bytes too, for the view is the record of the line,
// and the saved file is the view.
QString HexOf(const std::string& bytes) {
    const std::string hex = util::BytesToHexTrimmed(util::AsBytes(bytes));
    return QString::fromLatin1(hex.data(), qsizetype(hex.size()));
}

// One line "[hh:mm:ss.zzz] TX|RX <hex>" of its own.
void ShowTimestampedLine(const char* direction, const std::string& bytes, const QDateTime& at) {
    RichTextView& view = *Form1->redtComRechex;
    QTextCursor cursor = InsertionCursor(view);
    if (cursor.positionInBlock() != 0)
        cursor.insertText(QStringLiteral("\r\n"));
    cursor.insertText(
        QStringLiteral("[%1] %2 ")
            .arg(at.toString(QStringLiteral("HH:mm:ss.zzz")), QLatin1String(direction)) +
        HexOf(bytes) + QStringLiteral("\r\n"));
    FinishInsertion(view, cursor);
}

} // namespace

void ShowRxHex(const std::string& Data) {
    if (Form1->ckbTimestamp->isChecked()) {
        ShowTimestampedLine("RX", Data, QDateTime::currentDateTime());
        return;
    }
    RichTextView& view = *Form1->redtComRechex;
    QTextCursor cursor = InsertionCursor(view);
    cursor.insertText(HexOf(Data));
    // The view keeps a CR LF as one line break (one character position).
    if (Form1->ckbLR->isChecked())
        cursor.insertText(QStringLiteral("\r\n"));
    FinishInsertion(view, cursor);
}

void ShowTxHex(const std::string& Data) {
    if (Form1->ckbTimestamp->isChecked())
        ShowTimestampedLine("TX", Data, QDateTime::currentDateTime());
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

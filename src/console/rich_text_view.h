// The window's read-only text views (traffic and decode): a plain-text view that wraps at its
// width and answers the two line questions of a rich edit control - which display line holds a
// character position, and where a display line starts. Display lines are the lines the view
// shows after wrapping, numbered from 0; positions count characters of the view's text from 0,
// a line break counting as one.
#pragma once

#include <QPlainTextEdit>

namespace mbus::console {

class RichTextView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit RichTextView(QWidget* parent);

    // The display line holding `position` (clamped to the text).
    int LineFromChar(int position);
    // The position of the first character of display line `line`, or -1 past the last line.
    int LineIndex(int line);

signals:
    // The view has wrapped its text anew (its width or font changed): display line numbers taken
    // before no longer name the same places.
    void LinesRewrapped();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Lays out every block that is not laid out yet, so the document's line numbering counts
    // each block's real display lines. Blocks before ExactBlocks_ are known to be laid out.
    void MakeLineNumbersExact();
    void ForgetLayout(int fromBlock);

    int ExactBlocks_ = 0;
};

} // namespace mbus::console

#include "console/rich_text_view.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QResizeEvent>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>

namespace mbus::console {

RichTextView::RichTextView(QWidget* parent) : QPlainTextEdit(parent) {
    // A change may alter the line count of the block it starts in and of every block after it.
    connect(document(), &QTextDocument::contentsChange, this,
            [this](int position, int /*removed*/, int /*added*/) {
                ForgetLayout(std::max(0, document()->findBlock(position).blockNumber()));
            });
}

int RichTextView::LineFromChar(int position) {
    MakeLineNumbersExact();
    const QTextDocument& doc = *document();
    position = std::clamp(position, 0, doc.characterCount() - 1);
    const QTextBlock block = doc.findBlock(position);
    const QTextLine line = block.layout()->lineForTextPosition(position - block.position());
    return block.firstLineNumber() + (line.isValid() ? line.lineNumber() : 0);
}

int RichTextView::LineIndex(int line) {
    MakeLineNumbersExact();
    if (line < 0)
        return -1;
    const QTextBlock block = document()->findBlockByLineNumber(line);
    if (!block.isValid())
        return -1;
    const QTextLine textLine = block.layout()->lineAt(line - block.firstLineNumber());
    return block.position() + (textLine.isValid() ? textLine.textStart() : 0);
}

void RichTextView::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    if (event->oldSize().width() != event->size().width()) {
        ForgetLayout(0);
        emit LinesRewrapped();
    }
}

void RichTextView::changeEvent(QEvent* event) {
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        ForgetLayout(0);
        emit LinesRewrapped();
    }
}

void RichTextView::MakeLineNumbersExact() {
    // The view lays out blocks lazily and counts a block not laid out yet as one line; asking
    // for a block's rectangle lays it out and records its real line count in the document.
    QTextDocument& doc = *document();
    QAbstractTextDocumentLayout& layout = *doc.documentLayout();
    for (QTextBlock block = doc.findBlockByNumber(ExactBlocks_); block.isValid();
         block = block.next()) {
        if (block.layout()->lineCount() == 0)
            layout.blockBoundingRect(block);
    }
    ExactBlocks_ = doc.blockCount();
}

void RichTextView::ForgetLayout(int fromBlock) {
    ExactBlocks_ = std::min(ExactBlocks_, fromBlock);
}

} // namespace mbus::console

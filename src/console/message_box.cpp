#include "console/message_box.h"

#include <utility>

namespace mbus::console {
namespace {

QString& Title() {
    static QString title;
    return title;
}

MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

} // namespace

void SetApplicationTitle(const QString& title) {
    Title() = title;
}

QString ApplicationTitle() {
    return Title();
}

QMessageBox::StandardButton ShowMessageBox(const QString& text, const QString& caption,
                                           QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, caption.isEmpty() ? ApplicationTitle() : caption, text, buttons);
    box.setTextFormat(Qt::PlainText);
    if (const MessageBoxHook hook = Hook())
        return hook(box);
    box.exec();
    return box.standardButton(box.clickedButton());
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    return std::exchange(Hook(), std::move(hook));
}

} // namespace mbus::console

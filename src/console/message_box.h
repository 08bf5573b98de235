// The console's message boxes. Every box the console shows goes through ShowMessageBox: a modal
// box owned by the application, whose event loop keeps serving timers and port events while it
// is open. Tests install a hook that receives the prepared box and answers it instead.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

namespace mbus::console {

// The application title: the caption of the boxes that have none of their own.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

// Shows `text` (plain text, never read as markup) with the given icon and buttons and returns
// the button that closed the box. An empty caption stands for the application title.
QMessageBox::StandardButton ShowMessageBox(const QString& text, const QString& caption,
                                           QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// Receives every box instead of the user while installed, fully prepared but not shown, and
// returns the answer. An empty hook restores modal boxes. Returns the hook it replaces.
using MessageBoxHook = std::function<QMessageBox::StandardButton(QMessageBox& box)>;
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

} // namespace mbus::console

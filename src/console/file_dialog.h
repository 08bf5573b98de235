#pragma once

#include <QString>

class QFileDialog;
class QWidget;

namespace mbus::console {

// Shows a file dialog modally; true when the user accepted it with a file or folder chosen.
// The name field's completion list, when it was open as Return accepted the dialog, stays on
// the screen after the dialog has gone and would swallow the next click anywhere in the
// console: it is closed with the dialog.
bool RunFileDialog(QFileDialog& dialog);

// Asks for a folder, starting in `start`; empty when the user cancelled.
QString ChooseFolder(QWidget* parent, const QString& caption, const QString& start);

} // namespace mbus::console

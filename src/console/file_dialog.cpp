#include "console/file_dialog.h"

#include <QApplication>
#include <QFileDialog>

namespace mbus::console {

bool RunFileDialog(QFileDialog& dialog) {
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    return accepted && !dialog.selectedFiles().isEmpty();
}

QString ChooseFolder(QWidget* parent, const QString& caption, const QString& start) {
    QFileDialog dialog(parent, caption, start);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    return RunFileDialog(dialog) ? dialog.selectedFiles().front() : QString();
}

} // namespace mbus::console

// Answers the next file dialog a test makes the console show, from inside the dialog's own event
// loop, as a user types a name and presses OK, and keeps what the dialog proposed.
#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QStringList>
#include <QTimer>

namespace mbus::console {

// Answers the next save dialog with `path`.
class SaveDialogAnswer {
public:
    explicit SaveDialogAnswer(const QString& path) {
        QObject::connect(&Poll_, &QTimer::timeout, [this, path] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr)
                return;
            Poll_.stop();
            Filters = dialog->nameFilters();
            Directory = dialog->directory().absolutePath();
            Proposed = dialog->selectedFiles();
            ConfirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            Suffix = dialog->defaultSuffix();
            // Typed into the file name field, as a user does.
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept, as OK does
        });
        Poll_.start(5);
    }

    QStringList Filters;
    QString Directory;
    QStringList Proposed;
    bool ConfirmsOverwrite = true;
    QString Suffix;

private:
    QTimer Poll_;
};

} // namespace mbus::console

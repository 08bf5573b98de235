#include "console/traffic_file.h"

#include "console/file_dialog.h"
#include "console/main_window.h"
#include "console/rich_text_view.h"
#include "platform/file_open.h"
#include "platform/system_error.h"
#include "util/gbk_text.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace mbus::console {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

[[noreturn]] void RaiseSystemError(int errnoValue) {
    throw std::runtime_error(platform::SystemMessage(platform::ErrorFromErrno(errnoValue)));
}

} // namespace

QString UserDocumentsFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir(documents).exists() ? documents : QDir::homePath();
}

std::string TrafficFileText() {
    // The view holds each CR LF of a frame as one paragraph break, which its plain text gives
    // as LF.
    QString text = Form1->redtComRechex->toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return util::Utf8ToGbk(text.toStdString());
}

void WriteTrafficFile(const std::string& path, const std::string& bytes) {
    std::unique_ptr<std::FILE, FileCloser> file(platform::OpenFile(path, "wb"));
    if (!file) {
        const int reason = errno;
        throw std::runtime_error("Cannot create file \"" + path + "\". " +
                                 platform::SystemMessage(platform::ErrorFromErrno(reason)));
    }
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        RaiseSystemError(errno);
    if (std::fclose(file.release()) != 0)
        RaiseSystemError(errno);
}

void TForm1::btnSaveComRecClick(QObject* /*Sender*/) {
    // The dialog is set up afresh before every showing, whatever was chosen the time before. It
    // starts in the user's documents folder (the program's own folder is not the user's to write
    // once installed) with a name that does not overwrite the last save.
    sSaveDialog1->setNameFilter(QStringLiteral("*.TXT (*.txt)"));
    sSaveDialog1->setDirectory(UserDocumentsFolder());
    sSaveDialog1->selectFile(
        QStringLiteral("mbus-%1.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    if (!RunFileDialog(*sSaveDialog1))
        return;
    const QStringList chosen = sSaveDialog1->selectedFiles();
    // A new name typed without an extension gets ".txt"; a file that exists is taken as chosen.
    QString path = chosen.front();
    if (QFileInfo(path).suffix().isEmpty() && !QFileInfo::exists(path))
        path += QStringLiteral(".txt");
    // The text as it stands when the user confirms: the view may have grown meanwhile.
    WriteTrafficFile(QFile::encodeName(path).toStdString(), TrafficFileText());
}

} // namespace mbus::console

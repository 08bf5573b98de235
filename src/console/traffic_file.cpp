#include "console/traffic_file.h"

#include "console/main_window.h"
#include "console/rich_text_view.h"
#include "platform/file_open.h"
#include "platform/system_error.h"
#include "util/gbk_text.h"

#include <QCoreApplication>
#include <QFileDialog>

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
    // The dialog is set up afresh before every showing, whatever was chosen the time before.
    sSaveDialog1->setNameFilter(QStringLiteral("*.TXT (*.txt)"));
    sSaveDialog1->setDirectory(QCoreApplication::applicationDirPath());
    sSaveDialog1->selectFile(QStringLiteral("MbusTest.TXT"));
    if (sSaveDialog1->exec() != QDialog::Accepted)
        return;
    const QStringList chosen = sSaveDialog1->selectedFiles();
    if (chosen.isEmpty())
        return;
    // The text as it stands when the user confirms: the view may have grown meanwhile.
    WriteTrafficFile(chosen.front().toStdString(), TrafficFileText());
}

} // namespace mbus::console

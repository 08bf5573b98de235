#include "console/traffic_log_file.h"

#include "platform/file_open.h"
#include "platform/file_sync.h"
#include "platform/system_error.h"
#include "util/string_c.h"

#include <QDir>

#include <cerrno>

namespace mbus::console {

TrafficLogFile::TrafficLogFile(QObject* parent) : QObject(parent) {
    Sync_.setSingleShot(true);
    Sync_.setInterval(kSyncMs);
    connect(&Sync_, &QTimer::timeout, this, &TrafficLogFile::Sync);
}

TrafficLogFile::~TrafficLogFile() {
    Stop();
}

void TrafficLogFile::Start(const QString& folder) {
    Stop();
    Folder_ = folder;
    Failure_.clear();
}

void TrafficLogFile::Stop() {
    Sync();
    File_.reset();
    Folder_.clear();
    Day_ = QDate();
}

QString TrafficLogFile::FileName(const QDate& day) {
    return QStringLiteral("mbus-%1.log").arg(day.toString(QStringLiteral("yyyy-MM-dd")));
}

bool TrafficLogFile::Write(const char* direction, const std::string& bytes, const QDateTime& at) {
    if (!Writing())
        return false;
    const QString path = QDir(Folder_).filePath(FileName(at.date()));
    if (!File_ || Day_ != at.date()) {
        // A new day starts a new file; the file of the day before is finished.
        Sync();
        File_.reset(platform::OpenFile(path.toStdString(), "ab"));
        if (!File_)
            return Fail(path);
        Day_ = at.date();
    }
    const std::string line = at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toStdString() +
                             " " + direction + " " + util::BytesToHexTrimmed(util::AsBytes(bytes)) +
                             "\r\n";
    if (std::fwrite(line.data(), 1, line.size(), File_.get()) != line.size() ||
        std::fflush(File_.get()) != 0)
        return Fail(path);
    if (!Sync_.isActive())
        Sync_.start();
    return true;
}

bool TrafficLogFile::Fail(const QString& path) {
    const int reason = errno;
    Failure_ = path + QStringLiteral("：") +
               QString::fromStdString(platform::SystemMessage(platform::ErrorFromErrno(reason)));
    File_.reset();
    Folder_.clear();
    return false;
}

void TrafficLogFile::Sync() {
    Sync_.stop();
    if (File_)
        platform::SyncToDisk(File_.get());
}

} // namespace mbus::console

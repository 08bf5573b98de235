// The traffic log on disk ("记录到文件"): every line sent and received, with its local time to the
// millisecond and its direction ("2026-12-09 12:01:02.345 TX FE FE 68 …"), appended as it happens
// to one file per day ("mbus-2026-12-09.log") in a folder the user picks once. Each line is
// handed to the system at once, so a crash of the console loses nothing already shown, and the
// file goes to the disk at least every kSyncMs, so a power cut loses at most that much.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <string>

namespace mbus::console {

class TrafficLogFile : public QObject {
    Q_OBJECT
public:
    static constexpr int kSyncMs = 250;

    explicit TrafficLogFile(QObject* parent = nullptr);
    ~TrafficLogFile() override;

    // Starts writing into `folder` (none open yet: the day's file is opened at the first line).
    void Start(const QString& folder);
    void Stop();
    bool Writing() const { return !Folder_.isEmpty(); }

    // Appends one line; `direction` is "TX" or "RX". False when the file cannot be opened or
    // written: the log stops, and Failure() says why.
    bool Write(const char* direction, const std::string& bytes, const QDateTime& at);
    const QString& Failure() const { return Failure_; }

    // The day's file name: "mbus-YYYY-MM-DD.log".
    static QString FileName(const QDate& day);

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    bool Fail(const QString& path);
    void Sync();

    QString Folder_;
    QDate Day_;
    std::unique_ptr<std::FILE, FileCloser> File_;
    QString Failure_;
    QTimer Sync_;
};

} // namespace mbus::console

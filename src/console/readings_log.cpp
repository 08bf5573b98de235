#include "console/readings_log.h"

#include "console/main_window.h"
#include "protocol/request.h"
#include "util/string_c.h"

#include <QComboBox>

namespace mbus::console {
namespace {

ReadingsLog* TheLog = nullptr;

// The port the rows name: the port list's text, as the engineer chose it.
QString CurrentPort() {
    return Form1 ? Form1->cmbSoftPort->currentText() : QString();
}

} // namespace

protocol::LocalTimestamp LocalTimestampOf(const QDateTime& time) {
    const QDate date = time.date();
    const QTime clock = time.time();
    return {date.year(),    date.month(),   date.day(),  clock.hour(),
            clock.minute(), clock.second(), clock.msec()};
}

ReadingsLog::ReadingsLog(QObject* parent) : QObject(parent) {
    NoReply_.setSingleShot(true);
    NoReply_.setInterval(kNoReplyMs);
    connect(&NoReply_, &QTimer::timeout, this, &ReadingsLog::LogUnanswered);
    TheLog = this;
}

ReadingsLog::~ReadingsLog() {
    if (TheLog == this)
        TheLog = nullptr;
}

ReadingsLog* ReadingsLog::Current() {
    return TheLog;
}

void ReadingsLog::RequestSent(const std::string& bytes, const QString& port) {
    if (bytes.empty())
        return;
    LogUnanswered();
    const QDateTime now = QDateTime::currentDateTime();
    protocol::ReadingRow row;
    row.Time = LocalTimestampOf(now);
    row.Port = port.toStdString();
    row.Request = protocol::ScanReadRequest(util::AsBytes(bytes)).Request;
    Waiting_ = Waiting{std::move(row), now};
    NoReply_.start();
}

void ReadingsLog::FrameAnalysed(const std::optional<protocol::ParsedReply>& reply,
                                const QString& port) {
    if (!reply)
        return;
    if (!reply->Decoded()) {
        // A read-address reply answers its request, though it is no reading.
        if (Waiting_ && reply->Kind == protocol::ReplyKind::ReadAddress) {
            Waiting_.reset();
            NoReply_.stop();
        }
        return;
    }
    const QDateTime now = QDateTime::currentDateTime();
    protocol::ReadingRow row;
    row.Time = LocalTimestampOf(now);
    row.Port = port.toStdString();
    row.Reply = reply;
    if (Waiting_) {
        row.Request = Waiting_->Row.Request;
        if (row.Request)
            protocol::CompareWithRequest(*row.Reply, *row.Request);
        row.ElapsedMs = Waiting_->SentAt.msecsTo(now);
        Waiting_.reset();
        NoReply_.stop();
    }
    Add(std::move(row), now);
}

void ReadingsLog::Clear() {
    Rows_.clear();
    Waiting_.reset();
    NoReply_.stop();
    emit Cleared();
}

std::string ReadingsLog::CsvFileBytes() const {
    std::vector<protocol::ReadingRow> rows;
    rows.reserve(Rows_.size());
    for (const LoggedReading& logged : Rows_)
        rows.push_back(logged.Row);
    const protocol::ReadingsCsv csv(protocol::FormatsOfRows(rows));
    std::string bytes = "\xEF\xBB\xBF" + csv.Header();
    for (const protocol::ReadingRow& row : rows)
        bytes += csv.Row(row);
    return bytes;
}

void ReadingsLog::Add(protocol::ReadingRow row, const QDateTime& time) {
    Rows_.push_back({std::move(row), time});
    emit RowAdded(static_cast<int>(Rows_.size()) - 1);
}

void ReadingsLog::LogUnanswered() {
    if (!Waiting_)
        return;
    Waiting unanswered = std::move(*Waiting_);
    Waiting_.reset();
    NoReply_.stop();
    unanswered.Row.ElapsedMs = unanswered.SentAt.msecsTo(QDateTime::currentDateTime());
    Add(std::move(unanswered.Row), unanswered.SentAt);
}

void NoteRequestSent(const std::string& bytes) {
    try {
        if (ReadingsLog* log = ReadingsLog::Current())
            log->RequestSent(bytes, CurrentPort());
    } catch (...) {
    }
}

void NoteFrameAnalysed(const std::optional<protocol::ParsedReply>& reply) {
    try {
        if (ReadingsLog* log = ReadingsLog::Current())
            log->FrameAnalysed(reply, CurrentPort());
    } catch (...) {
    }
}

} // namespace mbus::console

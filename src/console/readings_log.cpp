#include "console/readings_log.h"

#include "console/main_window.h"

#include <QComboBox>

#include <algorithm>

namespace mbus::console {
namespace {

ReadingsLog* TheLog = nullptr;

// Whether a reply is a reading of the current counters, the replies the log is for.
bool IsCurrentReading(const protocol::ParsedReply& reply) {
    return reply.Decoded() && reply.Format && protocol::IsCurrentData(*reply.Format);
}

// Whether a request reads the current counters (90 1F in either byte order); the meter
// operations window's other reads (past months, prices, days, any identifier) are no readings.
bool ReadsCurrentData(const protocol::ReadRequest& request) {
    return request.Control == protocol::kControlRead &&
           protocol::SameIdentifier(request.DataId, protocol::kCurrentDataId);
}

} // namespace

QString CurrentPort() {
    return Form1 ? Form1->cmbSoftPort->currentText() : QString();
}

protocol::LocalTimestamp LocalTimestampOf(const QDateTime& time) {
    const QDate date = time.date();
    const QTime clock = time.time();
    return {date.year(),    date.month(),   date.day(),  clock.hour(),
            clock.minute(), clock.second(), clock.msec()};
}

ReadingsLog::ReadingsLog(QObject* parent) : QObject(parent) {
    TheLog = this;
}

ReadingsLog::~ReadingsLog() {
    if (TheLog == this)
        TheLog = nullptr;
}

ReadingsLog* ReadingsLog::Current() {
    return TheLog;
}

void ReadingsLog::AddExchange(const protocol::Exchange& exchange, const QDateTime& sentAt,
                              const QString& port, const std::string& name) {
    const bool reading = exchange.Reply && IsCurrentReading(*exchange.Reply);
    const bool readRequest = !exchange.Request || ReadsCurrentData(*exchange.Request);
    if (!reading && !readRequest)
        return;
    protocol::ReadingRow row;
    row.Time = LocalTimestampOf(sentAt);
    row.Port = port.toStdString();
    row.Request = exchange.Request;
    row.Reply = exchange.Reply;
    row.ElapsedMs = exchange.Elapsed().count();
    row.Outcome = exchange.Outcome;
    row.Name = name;
    Add(std::move(row), sentAt);
}

void ReadingsLog::AddUnsolicited(const protocol::ParsedReply& reply, const QDateTime& at,
                                 const QString& port) {
    if (!IsCurrentReading(reply))
        return;
    protocol::ReadingRow row;
    row.Time = LocalTimestampOf(at);
    row.Port = port.toStdString();
    row.Reply = reply;
    Add(std::move(row), at);
}

void ReadingsLog::Clear() {
    Rows_.clear();
    emit Cleared();
}

std::string ReadingsLog::CsvFileBytes() const {
    std::vector<protocol::ReadingRow> rows;
    rows.reserve(Rows_.size());
    for (const LoggedReading& logged : Rows_)
        rows.push_back(logged.Row);
    const bool named = std::any_of(rows.begin(), rows.end(), [](const protocol::ReadingRow& row) {
        return !row.Name.empty();
    });
    const protocol::ReadingsCsv csv(protocol::FormatsOfRows(rows), protocol::CsvWords::People,
                                    named ? protocol::NameColumn::Shown
                                          : protocol::NameColumn::None);
    std::string bytes = "\xEF\xBB\xBF" + csv.Header();
    for (const protocol::ReadingRow& row : rows)
        bytes += csv.Row(row);
    return bytes;
}

void ReadingsLog::Add(protocol::ReadingRow row, const QDateTime& time) {
    Rows_.push_back({std::move(row), time});
    emit RowAdded(static_cast<int>(Rows_.size()) - 1);
}

} // namespace mbus::console

// The readings log behind the readings window: one row per frame that AnalyseFrame decodes (the
// reply taken apart with its units, status and frame check against the request it answers) and
// one row "无应答" for a request, manual or timed, that got no decoded frame before the next
// request or within 2 s. The rows persist for the session; only the log's own Clear drops them.
// The places that send and decode tell the log through the two hooks below.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <optional>
#include <string>
#include <vector>

#include "protocol/parsed_reply.h"
#include "protocol/readings_csv.h"

namespace mbus::console {

struct LoggedReading {
    protocol::ReadingRow Row; // Row.Reply is none for a request without a decoded reply
    QDateTime Time;           // the local time of Row.Time
};

class ReadingsLog : public QObject {
    Q_OBJECT
public:
    // How long a request waits for its decoded reply before it is logged as unanswered.
    static constexpr int kNoReplyMs = 2000;

    explicit ReadingsLog(QObject* parent = nullptr);
    ~ReadingsLog() override;

    // The log the hooks feed while it exists (the readings window's), else nullptr.
    static ReadingsLog* Current();

    // `bytes` went out to the port `port`; an earlier request still waiting is unanswered.
    void RequestSent(const std::string& bytes, const QString& port);
    // A frame completed; `reply` is the reply AnalyseFrame found in it, if any.
    void FrameAnalysed(const std::optional<protocol::ParsedReply>& reply, const QString& port);
    // Drops every row and forgets the request still waiting.
    void Clear();

    const std::vector<LoggedReading>& Rows() const { return Rows_; }

    // The CSV file of the rows: UTF-8 with a byte order mark (so spreadsheet programs keep the
    // Chinese texts), the columns of `mbus read --csv`.
    std::string CsvFileBytes() const;

signals:
    void RowAdded(int index);
    void Cleared();

private:
    struct Waiting {
        protocol::ReadingRow Row; // the row it becomes without a reply
        QDateTime SentAt;
    };

    void Add(protocol::ReadingRow row, const QDateTime& time);
    void LogUnanswered();

    std::vector<LoggedReading> Rows_;
    std::optional<Waiting> Waiting_;
    QTimer NoReply_;
};

// The hooks of the sending and decoding routines; they do nothing while no log exists and never
// raise (the log is an addition that must not disturb sending or decoding).
void NoteRequestSent(const std::string& bytes);
void NoteFrameAnalysed(const std::optional<protocol::ParsedReply>& reply);

// The local time of `time` as the CSV rows give it.
protocol::LocalTimestamp LocalTimestampOf(const QDateTime& time);

} // namespace mbus::console

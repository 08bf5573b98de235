// The readings log behind the readings window: one row per settled read request of the current
// counters (its reply taken apart with units, status and frame check against the request it
// answers; or its outcome: "无应答", "仅回显", "迟到应答", ...), stamped with the time the request
// went out, and one row per reply of the current counters that answers no request. The exchange
// monitor adds the rows; they persist for the session, and only the log's own Clear drops them.
#pragma once

#include <QDateTime>
#include <QObject>

#include <string>
#include <vector>

#include "protocol/exchange.h"
#include "protocol/parsed_reply.h"
#include "protocol/readings_csv.h"

namespace mbus::console {

struct LoggedReading {
    protocol::ReadingRow Row; // Row.Reply is none for a request without a reply
    QDateTime Time;           // the local time of Row.Time
};

class ReadingsLog : public QObject {
    Q_OBJECT
public:
    explicit ReadingsLog(QObject* parent = nullptr);
    ~ReadingsLog() override;

    // The log the exchange monitor feeds while it exists (the readings window's), else nullptr.
    static ReadingsLog* Current();

    // A settled request sent at `sentAt` to the port `port`. Requests to read the current
    // counters (90 1F in either byte order; and bytes that hold no request) make a row whatever
    // became of them; other requests only when their reply is a reading of the current counters.
    // So the meter operations window's other reads and its writes (past months, prices, days,
    // purchases, key version, valve, clock, address) and the read-address request make no row.
    // `name` is the meter's name in a list of meters (a round's requests), empty for others.
    void AddExchange(const protocol::Exchange& exchange, const QDateTime& sentAt,
                     const QString& port, const std::string& name = {});
    // A reply of the current counters that answers no request, found at `at` (other replies
    // make no row).
    void AddUnsolicited(const protocol::ParsedReply& reply, const QDateTime& at,
                        const QString& port);
    // Drops every row.
    void Clear();

    const std::vector<LoggedReading>& Rows() const { return Rows_; }

    // The CSV file of the rows: UTF-8 with a byte order mark (so spreadsheet programs keep the
    // Chinese texts), the columns of `mbus read --csv` with the console's words for outcomes and
    // the frame check as the table shows it; with a column 名称 when a row has a meter's name.
    std::string CsvFileBytes() const;

signals:
    void RowAdded(int index);
    void Cleared();

private:
    void Add(protocol::ReadingRow row, const QDateTime& time);

    std::vector<LoggedReading> Rows_;
};

// The port the rows name: the port list's text, as the engineer chose it.
QString CurrentPort();

// The local time of `time` as the CSV rows give it.
protocol::LocalTimestamp LocalTimestampOf(const QDateTime& time);

} // namespace mbus::console

// The readings log as CSV, one writer for `mbus read --csv` and the console's readings export,
// so both give the same columns: local time, port, address, type code, each field's value (and
// its unit where it has one) in layout order, status raw, valve, battery, checksum ok, address
// match, elapsed ms; readings of a list of meters add the meter's name from the list after the
// address. A request without a decoded reply is a row with its outcome ("timeout",
// "echo-only", ...; the console's words in its own export) as its status, and a late reply is a
// row "late" with the reply's values.
// The port is written with its control characters and bytes that are no UTF-8 escaped as JSON
// escapes them (\n, \u001b, \u00ff), so the file stays valid UTF-8 whatever a device path holds.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/exchange.h"
#include "protocol/parsed_reply.h"
#include "protocol/request.h"

namespace mbus::protocol {

// A moment of the local wall clock as the caller's clock gives it (month and day from 1).
struct LocalTimestamp {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// ISO 8601 local time with milliseconds: "2024-01-02T03:04:05.678".
std::string Iso8601(const LocalTimestamp& time);

struct ReadingRow {
    LocalTimestamp Time;
    std::string Port;
    std::optional<ReadRequest> Request;    // what was asked, when the row answers a request
    std::optional<ParsedReply> Reply;      // the decoded reply; none: no decoded reply
    std::optional<std::int64_t> ElapsedMs; // from the request to the reply (or the time-out)
    std::optional<Verdict> Outcome;        // none: judged from the reply (or no reply)
    std::string Name;                      // the meter's name in a list of meters
};

// The meter a row is about: the reply's header, or else the request's address and type; none when
// the row has neither.
struct RowMeter {
    LineAddress Address{};
    std::uint8_t TypeCode = 0;
};
std::optional<RowMeter> MeterOfRow(const ReadingRow& row);

// The words for outcomes: machine-readable names ("timeout", "late"; `mbus read --csv`) or the
// console's words for people ("无应答", "迟到应答"), which also adds a last column "帧校验" with
// the outcome as the readings table shows it ("正确", "校验和错误", ...).
enum class CsvWords { Names, People };

// Whether the rows have a column "名称" for the meter's name in a list of meters.
enum class NameColumn { None, Shown };

class ReadingsCsv {
public:
    // Field columns for the layouts in `formats`: every field of the first in layout order, then
    // the fields of the others that a label does not already name. The status has columns of
    // its own. Usually the layout of the first decoded reply alone.
    explicit ReadingsCsv(std::span<const ReplyFormat* const> formats,
                         CsvWords words = CsvWords::Names, NameColumn name = NameColumn::None);

    // The header line and one line per row, each ending in CR LF. UTF-8, fields quoted where
    // they hold a comma, a quote or a line break. A row's fields that no column names are left
    // out.
    std::string Header() const;
    std::string Row(const ReadingRow& row) const;

private:
    std::string_view Word(Verdict verdict) const;

    std::vector<const ReplyField*> Fields_;
    CsvWords Words_;
    NameColumn Name_;
};

// The formats of the decoded rows in order of first appearance, for ReadingsCsv.
std::vector<const ReplyFormat*> FormatsOfRows(std::span<const ReadingRow> rows);

} // namespace mbus::protocol

// What `mbus read` prints about its requests. As text, as things happen: "TX <hex>" when a
// request goes out, "RX <hex>" for every frame as the console's traffic view shows it, the
// decoded line after the frame it came from, and "late reply to request N after M ms" when a
// reply comes after its request's time-out. As JSON, one object per request once the next one
// goes out or the run ends: {"tx": ..., "rx": [...], "decoded": ...|null, "elapsed_ms": N,
// "verdict": ..., "late": false, ...} with the decoded reply's check, address, type, fields and
// status and whether its address and type are the ones asked for; "rx" holds every byte of each
// frame (the traffic view leaves out some 0x20 bytes); a late reply is an object of its own with
// "late": true. An object is written as it grows, up to its "rx" list, so a line that sends
// without end costs no memory. As CSV, the readings log: a header, then one row per request once it
// has settled (and one row "late" per late reply); the field columns follow the first decoded
// reply, so rows before it wait for it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/exchange.h"
#include "protocol/parsed_reply.h"
#include "protocol/readings_csv.h"

namespace mbus::tools {

class ReadReport {
public:
    enum class Format { Text, Json, Csv };

    // `port` is the port as given, for the CSV rows.
    ReadReport(std::ostream& out, Format format, std::string port)
        : Out_(out), Format_(format), Port_(std::move(port)) {}

    // The request `id` (its bytes) went out at the local time `at`; the previous one's record is
    // complete.
    void Sent(std::uint64_t id, const std::string& bytes, const protocol::LocalTimestamp& at);
    // A frame of the quiet-gap framing completed.
    void Frame(const std::string& frame);
    // An analysed frame held a reply that decoded.
    void Decoded(const protocol::ParsedReply& reply);
    // A request settled: answered, without a reply, or (for an earlier request) answered late.
    // `analysed` holds the bytes the reply was found in.
    void Settled(const protocol::Exchange& exchange, const std::string& analysed);
    // The run is over; prints what is still held.
    void Finish();

private:
    struct Record {
        std::uint64_t Id = 0;
        std::string Tx;
        std::size_t Frames = 0;   // JSON: in its "rx" list, written already
        protocol::ReadingRow Row; // the reply, if any, the elapsed time and the outcome
        bool Settled = false;
    };

    // JSON: a record's object up to its "rx" list, and the rest after the list.
    void OpenRecord(const Record& record);
    void CloseRecord(const Record& record, bool late);
    // Prints the rows settled so far, and first the header, whose field columns are those of
    // `format` (none when null).
    void PrintCsvRows(const protocol::ReplyFormat* format);

    std::ostream& Out_;
    const Format Format_;
    const std::string Port_;
    std::optional<Record> Current_; // JSON and CSV: the request not printed yet
    std::map<std::uint64_t, std::pair<std::string, protocol::LocalTimestamp>> Requests_; // id ->
                                                                                         // tx, time
    // CSV: the columns once a reply decoded (or the run ended), and the rows settled before it.
    std::optional<protocol::ReadingsCsv> Csv_;
    std::vector<protocol::ReadingRow> WaitingRows_;
};

} // namespace mbus::tools

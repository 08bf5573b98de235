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
// reply, so rows before it wait for it. Reading a list of meters in rounds (ReadRound), each
// decoded line starts with the meter's address and name, each JSON object with "meter" and
// "name", the CSV has a name column and its field columns are those of the list's meter types
// from the start.
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

// A meter of a list, as the report names it.
struct ListedMeterName {
    std::string Address; // fourteen hex digits as typed
    std::string Name;    // empty when the list gives none
};

// "00000000000017 (3-201 厨房)", or the address alone without a name.
std::string MeterLabel(const ListedMeterName& meter);

class ReadReport {
public:
    enum class Format { Text, Json, Csv };

    // `port` is the port as given, for the CSV rows.
    ReadReport(std::ostream& out, Format format, std::string port)
        : Out_(out), Format_(format), Port_(std::move(port)) {}

    // The requests go to the meters of a list in turn; `formats` are the reply layouts of their
    // types, for the CSV columns. Before the first request.
    void ReadRound(std::vector<ListedMeterName> meters,
                   const std::vector<const protocol::ReplyFormat*>& formats);

    // The request `id` (its bytes) went out at the local time `at`, in a round to the meter at
    // `meter` of the list; the previous one's record is complete.
    void Sent(std::uint64_t id, const std::string& bytes, const protocol::LocalTimestamp& at,
              std::optional<std::size_t> meter = std::nullopt);
    // The request `id` fell due at `at` while the line was lost and did not go out: a record as
    // for a request sent (no "TX" line in text), settled by Settled as "line-lost".
    void Unsent(std::uint64_t id, const std::string& bytes, const protocol::LocalTimestamp& at,
                std::optional<std::size_t> meter = std::nullopt);
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
        std::optional<std::size_t> Meter; // in a round: the meter of the list asked
    };
    struct SentRequest {
        std::string Tx;
        protocol::LocalTimestamp At;
        std::optional<std::size_t> Meter;
    };

    // JSON: a record's object up to its "rx" list, and the rest after the list.
    void OpenRecord(const Record& record);
    void CloseRecord(const Record& record, bool late);
    // Prints the rows settled so far, and first the header, whose field columns are those of
    // `format` (none when null).
    void PrintCsvRows(const protocol::ReplyFormat* format);
    // The name of the meter at `meter` of the round's list; empty outside a round.
    std::string NameOf(const std::optional<std::size_t>& meter) const;

    std::ostream& Out_;
    const Format Format_;
    const std::string Port_;
    std::optional<Record> Current_;                     // JSON and CSV: the request not printed yet
    std::map<std::uint64_t, SentRequest> Requests_;     // the latest requests, by id
    std::optional<std::vector<ListedMeterName>> Round_; // the list of a round
    // CSV: the columns once a reply decoded (or the run ended, or a round began), whether the
    // header is out, and the rows settled before the columns were known.
    std::optional<protocol::ReadingsCsv> Csv_;
    bool HeaderShown_ = false;
    std::vector<protocol::ReadingRow> WaitingRows_;
};

} // namespace mbus::tools

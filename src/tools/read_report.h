// What `mbus read` prints about its requests. As text, as things happen: "TX <hex>" when a
// request goes out, "RX <hex>" for every frame as the console's traffic view shows it, and the
// decoded line after the frame it came from. As JSON, one object per request once the next one
// goes out or the run ends: {"tx": ..., "rx": [...], "decoded": ...|null, "elapsed_ms": N, ...}
// with the decoded reply's check, address, type, fields and status and whether its address and
// type are the ones asked for; "rx" holds every byte of each frame (the traffic view leaves out
// some 0x20 bytes). The object is written as it grows, up to its "rx" list, so a line that sends
// without end costs no memory. As CSV, the readings log: a header, then one row per request once
// it has settled; the field columns follow the first decoded reply, so rows before it wait for
// it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "protocol/meter_reading.h"
#include "protocol/readings_csv.h"

namespace mbus::tools {

class ReadReport {
public:
    enum class Format { Text, Json, Csv };

    // `port` is the port as given, for the CSV rows.
    ReadReport(std::ostream& out, Format format, std::string port)
        : Out_(out), Format_(format), Port_(std::move(port)) {}

    // A request went out at the local time `at`; the previous one's record is complete.
    // `request` is what the bytes ask for, when they hold a request at all.
    void Sent(const std::string& bytes, const protocol::LocalTimestamp& at,
              const std::optional<protocol::ReadRequest>& request);
    // A frame completed after the last request went out; `decodedLine` is empty when nothing
    // was decoded from it.
    void Received(const std::string& frame, const std::string& decodedLine);
    // The current request's outcome: the reply decoded within the time-out, if any, with its
    // reading, and the milliseconds from sending to that reply (or to the end of the wait).
    void Settled(const std::optional<std::string>& decoded,
                 const std::optional<protocol::MeterReading>& reading, std::int64_t elapsedMs);
    // The run is over; prints what is still held.
    void Finish();

private:
    struct Record {
        std::size_t Frames = 0; // JSON: in its "rx" list, written already
        std::optional<std::string> Decoded;
        std::int64_t ElapsedMs = 0;
        protocol::ReadingRow Row;
    };

    void PrintRecord();
    // Prints the rows settled so far, and first the header, whose field columns are those of
    // `format` (none when null).
    void PrintCsvRows(const protocol::ReplyFormat* format);

    std::ostream& Out_;
    const Format Format_;
    const std::string Port_;
    std::optional<Record> Current_; // JSON and CSV: the request not printed yet
    // CSV: the columns once a reply decoded (or the run ended), and the rows settled before it.
    std::optional<protocol::ReadingsCsv> Csv_;
    std::vector<protocol::ReadingRow> WaitingRows_;
};

} // namespace mbus::tools

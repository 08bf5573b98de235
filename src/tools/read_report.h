// What `mbus read` prints about its requests. As text, as things happen: "TX <hex>" when a
// request goes out, "RX <hex>" for every frame as the console's traffic view shows it, and the
// decoded line after the frame it came from. As JSON, one object per request once the next one
// goes out or the run ends: {"tx": ..., "rx": [...], "decoded": ...|null, "elapsed_ms": N}, where
// "rx" holds every byte of each frame (the traffic view leaves out some 0x20 bytes).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace mbus::tools {

class ReadReport {
public:
    ReadReport(std::ostream& out, bool json) : Out_(out), Json_(json) {}

    // A request went out; the previous one's record is complete.
    void Sent(const std::string& bytes);
    // A frame completed after the last request went out; `decodedLine` is empty when nothing
    // was decoded from it.
    void Received(const std::string& frame, const std::string& decodedLine);
    // The current request's outcome: the reply decoded within the time-out, if any, and the
    // milliseconds from sending to that reply (or to the end of the wait).
    void Settled(const std::optional<std::string>& decoded, std::int64_t elapsedMs);
    // The run is over; prints what is still held.
    void Finish();

private:
    struct Record {
        std::string Tx;
        std::vector<std::string> Rx;
        std::optional<std::string> Decoded;
        std::int64_t ElapsedMs;
    };

    void PrintRecord();

    std::ostream& Out_;
    const bool Json_;
    std::optional<Record> Current_; // JSON only: the request whose object is not printed yet
};

} // namespace mbus::tools

#include "tools/read_report.h"

#include "tools/json_text.h"
#include "tools/reading_json.h"
#include "util/string_c.h"

#include <ostream>

namespace mbus::tools {
namespace {

// Every byte as spaced hex, without a blank at the end.
std::string AllBytesHex(const std::string& bytes) {
    std::string hex = util::BytesToHex(util::AsBytes(bytes));
    if (!hex.empty())
        hex.pop_back();
    return hex;
}

// The reading's keys and whether it answers what was asked; nulls without a reading.
std::string ReadingKeys(const protocol::ReadingRow& row) {
    if (!row.Reading)
        return ", \"check\": null, \"address\": null, \"type\": null, \"fields\": null, "
               "\"status\": null, \"address_match\": null, \"type_match\": null";
    const protocol::FrameCheck& check = row.Reading->Check;
    return ReadingJsonKeys(*row.Reading) + ", \"address_match\": " + JsonBool(check.AddressMatch) +
           ", \"type_match\": " + JsonBool(check.TypeMatch);
}

} // namespace

void ReadReport::Sent(const std::string& bytes, const protocol::LocalTimestamp& at,
                      const std::optional<protocol::ReadRequest>& request) {
    if (Format_ == Format::Text) {
        Out_ << "TX " << AllBytesHex(bytes) << std::endl;
        return;
    }
    PrintRecord();
    Current_ = Record{0, std::nullopt, 0, {at, Port_, request, {}, {}}};
    if (Format_ == Format::Json)
        Out_ << "{\"tx\": " << JsonString(AllBytesHex(bytes)) << ", \"rx\": [";
}

void ReadReport::Received(const std::string& frame, const std::string& decodedLine) {
    if (Format_ == Format::Text) {
        Out_ << "RX " << AllBytesHex(frame) << "\n";
        if (!decodedLine.empty())
            Out_ << decodedLine << "\n";
        Out_.flush();
        return;
    }
    if (Current_ && Format_ == Format::Json)
        Out_ << (Current_->Frames++ ? ", " : "") << JsonString(AllBytesHex(frame));
}

void ReadReport::Settled(const std::optional<std::string>& decoded,
                         const std::optional<protocol::MeterReading>& reading,
                         std::int64_t elapsedMs) {
    if (!Current_)
        return;
    Current_->Decoded = decoded;
    Current_->ElapsedMs = elapsedMs;
    Current_->Row.Reading = reading;
    Current_->Row.ElapsedMs = elapsedMs;
    if (Format_ != Format::Csv)
        return;
    WaitingRows_.push_back(std::move(Current_->Row));
    Current_.reset();
    if (Csv_ || reading)
        PrintCsvRows(reading ? reading->Format : nullptr);
}

void ReadReport::Finish() {
    if (Format_ == Format::Csv) {
        PrintCsvRows(nullptr);
        return;
    }
    PrintRecord();
}

void ReadReport::PrintCsvRows(const protocol::ReplyFormat* format) {
    if (!Csv_) {
        // The first decoded reply gives the field columns; without one there are none.
        std::vector<const protocol::ReplyFormat*> formats;
        if (format)
            formats.push_back(format);
        Csv_.emplace(formats);
        Out_ << Csv_->Header();
    }
    for (const protocol::ReadingRow& row : WaitingRows_)
        Out_ << Csv_->Row(row);
    WaitingRows_.clear();
    Out_.flush();
}

void ReadReport::PrintRecord() {
    if (!Current_ || Format_ != Format::Json)
        return;
    Out_ << "], \"decoded\": " << (Current_->Decoded ? JsonString(*Current_->Decoded) : "null")
         << ", \"elapsed_ms\": " << Current_->ElapsedMs << ReadingKeys(Current_->Row) << "}"
         << std::endl;
    Current_.reset();
}

} // namespace mbus::tools

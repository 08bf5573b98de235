#include "tools/read_report.h"

#include "tools/json_text.h"
#include "tools/reading_json.h"
#include "util/string_c.h"

#include <ostream>

namespace mbus::tools {
namespace {

// Every byte as spaced hex, without a blank at the end.
std::string AllBytesHex(const std::string& bytes) {
    return util::BytesToHexTrimmed(util::AsBytes(bytes));
}

// The reading's keys and whether it answers what was asked; nulls without a reading.
std::string ReadingKeys(const protocol::ReadingRow& row) {
    if (!row.Reply)
        return ", \"check\": null, \"address\": null, \"type\": null, \"fields\": null, "
               "\"status\": null, \"address_match\": null, \"type_match\": null";
    const protocol::FrameCheck& check = row.Reply->Check;
    return ReplyJsonKeys(*row.Reply) + ", \"address_match\": " + JsonBool(check.AddressMatch) +
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
    Current_ = Record{AllBytesHex(bytes), {}, {at, Port_, request, {}, {}}};
}

void ReadReport::Received(const std::string& frame,
                          const std::optional<protocol::ParsedReply>& reply) {
    if (Format_ == Format::Text) {
        Out_ << "RX " << AllBytesHex(frame) << "\n";
        if (reply && reply->Decoded())
            Out_ << reply->Line << "\n";
        Out_.flush();
        return;
    }
    if (Current_)
        Current_->Rx.push_back(AllBytesHex(frame));
}

void ReadReport::Settled(const std::optional<protocol::ParsedReply>& decoded,
                         std::int64_t elapsedMs) {
    if (!Current_)
        return;
    Current_->Row.Reply = decoded;
    Current_->Row.ElapsedMs = elapsedMs;
    if (Format_ != Format::Csv)
        return;
    WaitingRows_.push_back(std::move(Current_->Row));
    Current_.reset();
    if (Csv_ || decoded)
        PrintCsvRows(decoded ? decoded->Format : nullptr);
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
    Out_ << "{\"tx\": " << JsonString(Current_->Tx) << ", \"rx\": [";
    for (std::size_t i = 0; i < Current_->Rx.size(); ++i)
        Out_ << (i ? ", " : "") << JsonString(Current_->Rx[i]);
    const protocol::ReadingRow& row = Current_->Row;
    Out_ << "], \"decoded\": " << (row.Reply ? JsonString(row.Reply->Line) : "null")
         << ", \"elapsed_ms\": " << row.ElapsedMs.value_or(0) << ReadingKeys(row) << "}"
         << std::endl;
    Current_.reset();
}

} // namespace mbus::tools

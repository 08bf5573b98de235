#include "tools/read_report.h"

#include "tools/json_text.h"
#include "tools/reading_json.h"
#include "util/string_c.h"

#include <algorithm>
#include <ostream>

namespace mbus::tools {
namespace {

// Every byte as spaced hex, without a blank at the end.
std::string AllBytesHex(const std::string& bytes) {
    return util::BytesToHexTrimmed(util::AsBytes(bytes));
}

// The reading's keys and whether it answers what was asked; nulls without a decoded reply.
std::string ReadingKeys(const protocol::ReadingRow& row) {
    if (!row.Reply || !row.Reply->Decoded())
        return ", \"check\": null, \"address\": null, \"type\": null, \"fields\": null, "
               "\"status\": null, \"address_match\": null, \"type_match\": null";
    const protocol::FrameCheck& check = row.Reply->Check;
    return ReplyJsonKeys(*row.Reply) + ", \"address_match\": " + JsonBool(check.AddressMatch) +
           ", \"type_match\": " + JsonBool(check.TypeMatch);
}

// How many requests are remembered for their late replies.
constexpr std::size_t kRequestsRemembered = 64;

} // namespace

std::string MeterLabel(const ListedMeterName& meter) {
    return meter.Name.empty() ? meter.Address : meter.Address + " (" + meter.Name + ")";
}

void ReadReport::ReadRound(std::vector<ListedMeterName> meters,
                           const std::vector<const protocol::ReplyFormat*>& formats) {
    Round_ = std::move(meters);
    if (Format_ == Format::Csv)
        Csv_.emplace(formats, protocol::CsvWords::Names, protocol::NameColumn::Shown);
}

std::string ReadReport::NameOf(const std::optional<std::size_t>& meter) const {
    if (!Round_ || !meter || *meter >= Round_->size())
        return {};
    return (*Round_)[*meter].Name;
}

void ReadReport::Sent(std::uint64_t id, const std::string& bytes,
                      const protocol::LocalTimestamp& at, std::optional<std::size_t> meter) {
    if (Format_ == Format::Text) {
        Out_ << "TX " << AllBytesHex(bytes) << std::endl;
        return;
    }
    if (Current_ && Format_ == Format::Json)
        CloseRecord(*Current_, false);
    Current_ =
        Record{id, AllBytesHex(bytes), 0, {at, Port_, std::nullopt, {}, {}, {}, {}}, false, meter};
    if (Format_ == Format::Json)
        OpenRecord(*Current_);
    Requests_[id] = {Current_->Tx, at, meter};
    while (Requests_.size() > kRequestsRemembered)
        Requests_.erase(Requests_.begin());
}

void ReadReport::Unsent(std::uint64_t id, const std::string& bytes,
                        const protocol::LocalTimestamp& at, std::optional<std::size_t> meter) {
    if (Format_ != Format::Text)
        Sent(id, bytes, at, meter);
}

void ReadReport::Frame(const std::string& frame) {
    if (Format_ == Format::Text) {
        Out_ << "RX " << AllBytesHex(frame) << "\n";
        Out_.flush();
        return;
    }
    if (Current_ && Format_ == Format::Json)
        Out_ << (Current_->Frames++ ? ", " : "") << JsonString(AllBytesHex(frame));
}

void ReadReport::Decoded(const protocol::ParsedReply& reply) {
    if (Format_ != Format::Text)
        return;
    if (Round_ && reply.Address) {
        // The meter the reply comes from, which a late reply may not be the one asked last.
        const std::string address = protocol::AddressText(*reply.Address);
        const auto listed =
            std::find_if(Round_->begin(), Round_->end(),
                         [&](const ListedMeterName& meter) { return meter.Address == address; });
        Out_ << (listed != Round_->end() ? MeterLabel(*listed) : address) << " ";
    }
    Out_ << reply.Line << "\n";
    Out_.flush();
}

void ReadReport::Settled(const protocol::Exchange& exchange, const std::string& analysed) {
    const bool late = exchange.Outcome == protocol::Verdict::Late;
    if (Format_ == Format::Text) {
        if (late)
            Out_ << "late reply to request " << exchange.Id << " after "
                 << exchange.Elapsed().count() << " ms" << std::endl;
        return;
    }
    protocol::ReadingRow row;
    row.Request = exchange.Request;
    row.Reply = exchange.Reply;
    row.ElapsedMs = exchange.Elapsed().count();
    row.Outcome = exchange.Outcome;
    row.Port = Port_;
    const auto request = Requests_.find(exchange.Id);
    std::optional<std::size_t> meter;
    if (request != Requests_.end()) {
        row.Time = request->second.At;
        meter = request->second.Meter;
    }
    row.Name = NameOf(meter);

    if (!late && Current_ && Current_->Id == exchange.Id) {
        row.Time = Current_->Row.Time;
        Current_->Row = row;
        Current_->Settled = true;
    } else if (Format_ == Format::Json) {
        // A late reply: an object of its own, after the request's.
        if (Current_ && Current_->Id == exchange.Id) {
            CloseRecord(*Current_, false);
            Current_.reset();
        }
        const Record record{
            exchange.Id, request != Requests_.end() ? request->second.Tx : "", 0, row, true, meter};
        OpenRecord(record);
        if (!analysed.empty())
            Out_ << JsonString(AllBytesHex(analysed));
        CloseRecord(record, true);
        return;
    }
    if (Format_ != Format::Csv)
        return;
    if (Current_ && Current_->Id == exchange.Id && !late)
        Current_.reset();
    WaitingRows_.push_back(row);
    const bool decoded = row.Reply && row.Reply->Decoded();
    if (Csv_ || decoded)
        PrintCsvRows(decoded ? row.Reply->Format : nullptr);
}

void ReadReport::Finish() {
    if (Format_ == Format::Csv) {
        PrintCsvRows(nullptr);
        return;
    }
    if (Current_ && Format_ == Format::Json)
        CloseRecord(*Current_, false);
    Current_.reset();
}

void ReadReport::PrintCsvRows(const protocol::ReplyFormat* format) {
    if (!Csv_) {
        // The first decoded reply gives the field columns; without one there are none.
        std::vector<const protocol::ReplyFormat*> formats;
        if (format)
            formats.push_back(format);
        Csv_.emplace(formats);
    }
    if (!HeaderShown_) {
        Out_ << Csv_->Header();
        HeaderShown_ = true;
    }
    for (const protocol::ReadingRow& row : WaitingRows_)
        Out_ << Csv_->Row(row);
    WaitingRows_.clear();
    Out_.flush();
}

void ReadReport::OpenRecord(const Record& record) {
    Out_ << "{";
    if (Round_) {
        const std::string name = NameOf(record.Meter);
        Out_ << "\"meter\": "
             << (record.Meter && *record.Meter < Round_->size()
                     ? JsonString((*Round_)[*record.Meter].Address)
                     : "null")
             << ", \"name\": " << (name.empty() ? "null" : JsonString(name)) << ", ";
    }
    Out_ << "\"tx\": " << JsonString(record.Tx) << ", \"rx\": [";
}

void ReadReport::CloseRecord(const Record& record, bool late) {
    const protocol::ReadingRow& row = record.Row;
    const bool decoded = row.Reply && row.Reply->Decoded();
    const protocol::Verdict verdict = row.Outcome.value_or(protocol::Verdict::NoReply);
    Out_ << "], \"decoded\": " << (decoded ? JsonString(row.Reply->Line) : "null")
         << ", \"elapsed_ms\": " << row.ElapsedMs.value_or(0) << ", \"verdict\": "
         << (record.Settled ? JsonString(protocol::VerdictName(verdict)) : "null")
         << ", \"late\": " << (late ? "true" : "false")
         << (verdict == protocol::Verdict::LineLost ? ", \"error\": \"line lost\"" : "");
    if (verdict == protocol::Verdict::Refused && row.Reply)
        Out_ << ", \"error_status\": "
             << JsonString(util::RemoveSpaces(util::BytesToHex(row.Reply->ErrorStatus)));
    Out_ << ReadingKeys(row) << "}" << std::endl;
}

} // namespace mbus::tools

#include "tools/read_report.h"

#include "tools/json_text.h"
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

} // namespace

void ReadReport::Sent(const std::string& bytes) {
    if (!Json_) {
        Out_ << "TX " << AllBytesHex(bytes) << std::endl;
        return;
    }
    PrintRecord();
    Current_ = Record{AllBytesHex(bytes), {}, std::nullopt, 0};
}

void ReadReport::Received(const std::string& frame, const std::string& decodedLine) {
    if (!Json_) {
        Out_ << "RX " << util::TextToHex(frame) << "\n";
        if (!decodedLine.empty())
            Out_ << decodedLine << "\n";
        Out_.flush();
        return;
    }
    if (Current_)
        Current_->Rx.push_back(AllBytesHex(frame));
}

void ReadReport::Settled(const std::optional<std::string>& decoded, std::int64_t elapsedMs) {
    if (!Current_)
        return;
    Current_->Decoded = decoded;
    Current_->ElapsedMs = elapsedMs;
}

void ReadReport::Finish() {
    PrintRecord();
}

void ReadReport::PrintRecord() {
    if (!Current_)
        return;
    Out_ << "{\"tx\": " << JsonString(Current_->Tx) << ", \"rx\": [";
    for (std::size_t i = 0; i < Current_->Rx.size(); ++i)
        Out_ << (i ? ", " : "") << JsonString(Current_->Rx[i]);
    Out_ << "], \"decoded\": " << (Current_->Decoded ? JsonString(*Current_->Decoded) : "null")
         << ", \"elapsed_ms\": " << Current_->ElapsedMs << "}" << std::endl;
    Current_.reset();
}

} // namespace mbus::tools

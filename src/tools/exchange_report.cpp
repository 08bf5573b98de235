#include "tools/exchange_report.h"

#include "protocol/frame_check.h"
#include "tools/json_text.h"
#include "tools/reading_json.h"
#include "util/string_c.h"

#include <ostream>

namespace mbus::tools {
namespace {

std::string Hex(std::string_view bytes) {
    return util::BytesToHexTrimmed(util::AsBytes(bytes));
}

std::string HexDigits(std::span<const std::uint8_t> bytes) {
    return util::RemoveSpaces(util::BytesToHex(bytes));
}

// The first failed check in words, or empty.
std::string_view FailureText(protocol::CheckFailure failure) {
    switch (failure) {
    case protocol::CheckFailure::None:
        return {};
    case protocol::CheckFailure::Incomplete:
        return "the frame is cut short";
    case protocol::CheckFailure::Start:
        return "wrong start byte";
    case protocol::CheckFailure::Checksum:
        return "wrong checksum";
    case protocol::CheckFailure::End:
        return "wrong end byte";
    case protocol::CheckFailure::Address:
        return "another meter's address";
    case protocol::CheckFailure::Type:
        return "another meter type";
    case protocol::CheckFailure::Sequence:
        return "the sequence number is not the request's";
    }
    return {};
}

// Whether the reply is of a kind whose content is known here.
bool Understood(const protocol::ParsedReply& reply) {
    return reply.Kind != protocol::ReplyKind::Unknown;
}

// The outcome line of an answered exchange, as text.
std::string OutcomeText(const protocol::ParsedReply& reply, const ExchangeReport& report) {
    using protocol::ReplyKind;
    switch (reply.Kind) {
    case ReplyKind::Error:
        return "refused, status " + HexDigits(reply.ErrorStatus);
    case ReplyKind::Write:
    case ReplyKind::WriteAddress: {
        std::string text = "accepted: " + report.What;
        if (reply.Kind == ReplyKind::WriteAddress && reply.Address)
            text += "; the meter answered at " + protocol::AddressText(*reply.Address);
        if (!reply.Status.Raw.empty())
            text += "; status " + reply.Status.Raw + " (valve " +
                    std::string(protocol::ValveName(reply.Status.ValveState)) + ", battery " +
                    std::string(protocol::BatteryName(reply.Status.BatteryState)) + ")";
        return text;
    }
    case ReplyKind::ReadData:
        return reply.Line;
    case ReplyKind::ReadAddress:
    case ReplyKind::KeyVersion:
    case ReplyKind::Unknown:
        break;
    }
    return protocol::LabelledValues(reply.Fields);
}

std::string KindName(const Exchange& exchange) {
    if (!exchange.Reply)
        return "timeout";
    return exchange.Reply->Kind == protocol::ReplyKind::Error ? "refused" : "reply";
}

void PrintJson(const Exchange& exchange, std::ostream& out) {
    out << "{\"tx\": " << JsonString(Hex(exchange.Tx)) << ", \"rx\": [";
    for (std::size_t i = 0; i < exchange.Rx.size(); ++i)
        out << (i ? ", " : "") << JsonString(Hex(exchange.Rx[i]));
    out << "], \"kind\": " << JsonString(KindName(exchange));
    const auto& reply = exchange.Reply;
    if (!reply) {
        out << ", \"address\": null, \"type\": null, \"fields\": null, \"status\": null, "
               "\"check\": null}"
            << std::endl;
        return;
    }
    out << ", \"address\": " << AddressJson(*reply)
        << ", \"type\": " << (reply->TypeCode ? std::to_string(*reply->TypeCode) : "null")
        << ", \"fields\": " << FieldsJson(reply->Fields, FieldBytes::Shown)
        << ", \"status\": " << StatusJson(*reply)
        << ", \"check\": " << CheckWithMatchesJson(reply->Check);
    if (reply->Kind == protocol::ReplyKind::Error)
        out << ", \"error_status\": " << JsonString(HexDigits(reply->ErrorStatus));
    out << "}" << std::endl;
}

} // namespace

int ReportExchange(const Exchange& exchange, const ExchangeReport& report, CommandIo io) {
    const auto& reply = exchange.Reply;
    if (report.Json) {
        PrintJson(exchange, io.Out);
    } else {
        io.Out << "TX " << Hex(exchange.Tx) << "\n";
        for (const std::string& frame : exchange.Rx)
            io.Out << "RX " << Hex(frame) << "\n";
        if (reply && Understood(*reply))
            io.Out << OutcomeText(*reply, report) << "\n";
        io.Out.flush();
    }

    const std::string prefix = "mbus " + std::string(report.Command) + ": ";
    if (!reply) {
        std::string why = exchange.Interrupted
                              ? "interrupted"
                              : UnansweredBytesText(exchange, "answer to the request");
        if (why.empty())
            why = "no answer within " + std::to_string(report.Timeout.count()) + " ms";
        io.Err << prefix << why << "\n";
        return kExitIncomplete;
    }
    if (const std::string meters = AnsweringMetersText(exchange); !meters.empty()) {
        // A request to the wildcard address reached every meter of the line: each one answering
        // has done what was asked.
        io.Err << prefix << "more than one meter answered: " << meters << "\n";
        return kExitIncomplete;
    }
    if (const auto failure = protocol::FirstFailure(reply->Check);
        failure != protocol::CheckFailure::None) {
        io.Err << prefix << "the reply failed its frame check: " << FailureText(failure) << "\n";
        return kExitIncomplete;
    }
    if (reply->Kind == protocol::ReplyKind::Error) {
        io.Err << prefix << "the meter refused the request\n";
        return kExitIncomplete;
    }
    if (!Understood(*reply)) {
        io.Err << prefix << "the reply's layout is not one this program knows\n";
        return kExitIncomplete;
    }
    return kExitOk;
}

} // namespace mbus::tools

#include "tools/meter_exchange.h"

#include "protocol/reply_assembly.h"
#include "tools/tool_port.h"
#include "util/string_c.h"

#include <algorithm>

namespace mbus::tools {
namespace {

// After the answer, how long the line is listened to for replies of further meters.
constexpr std::chrono::milliseconds kFurtherRepliesWait{150};

// Every reply in `bytes` that answers `request`, from the first on.
std::vector<protocol::ParsedReply> AnswersIn(const std::string& bytes,
                                             const protocol::ReadRequest& request, bool readData) {
    std::vector<protocol::ParsedReply> answers;
    std::size_t from = 0;
    while (from < bytes.size()) {
        const auto rest = util::AsBytes(bytes).subspan(from);
        auto reply = protocol::ParseReply(rest, readData);
        if (!reply)
            break;
        const std::size_t next = from + reply->ControlAt + 1;
        if (protocol::Answers(*reply, request)) {
            protocol::CompareWithRequest(*reply, request);
            answers.push_back(std::move(*reply));
        }
        from = next;
    }
    return answers;
}

} // namespace

std::optional<Exchange> ExchangeOnce(ToolPort& port, const protocol::ReadRequest& request,
                                     ReaderSession::Clock::duration timeout, std::ostream& err) {
    const std::vector<std::uint8_t> bytes = protocol::BuildRequest(request);
    Exchange exchange;
    exchange.Tx.assign(bytes.begin(), bytes.end());
    const auto sentAt = port.Send(exchange.Tx, err);
    if (!sentAt)
        return std::nullopt;

    // Read-data replies are looked for only when read data were asked for, so the reply of
    // another request is never taken for a reading. A reply the line delivers in bursts is joined
    // before it is looked at.
    const bool readData = request.Control == protocol::kControlRead;
    const auto interrupted = [&port] { return port.Interrupted(); };
    protocol::ReplyAssembler assembler;
    const auto take = [&](const std::string& whole) {
        for (protocol::ParsedReply& answer : AnswersIn(whole, request, readData)) {
            if (!exchange.Reply)
                exchange.Reply = std::move(answer);
            else
                exchange.FurtherReplies.push_back(std::move(answer));
        }
    };
    ReaderSession::Clock::time_point deadline = *sentAt + timeout;
    for (;;) {
        const auto frame = port.Session().NextFrame(deadline, interrupted);
        if (!frame)
            break;
        exchange.Rx.push_back(frame->Bytes);
        const bool hadReply = exchange.Reply.has_value();
        if (const auto whole = assembler.Add(frame->Bytes, !exchange.Reply))
            take(*whole);
        // Once answered, the line is listened to a little longer: a second meter that answers
        // too (two on the line) is worth saying.
        if (!hadReply && exchange.Reply)
            deadline = std::min(deadline, frame->CompletedAt + kFurtherRepliesWait);
    }
    if (const auto held = assembler.Flush())
        take(*held);
    exchange.Interrupted = !exchange.Reply && port.Interrupted();
    return exchange;
}

std::string AnsweringMetersText(const Exchange& exchange) {
    std::vector<std::string> meters;
    const auto add = [&meters](const protocol::ParsedReply& reply) {
        if (!reply.Address)
            return;
        const std::string address = protocol::AddressText(*reply.Address);
        if (std::find(meters.begin(), meters.end(), address) == meters.end())
            meters.push_back(address);
    };
    if (exchange.Reply)
        add(*exchange.Reply);
    for (const protocol::ParsedReply& further : exchange.FurtherReplies)
        add(further);
    if (meters.size() < 2)
        return {};
    std::string text;
    for (const std::string& meter : meters)
        text += (text.empty() ? "" : ", ") + meter;
    return text;
}

std::string UnansweredBytesText(const Exchange& exchange, std::string_view awaited) {
    std::string received;
    for (const std::string& frame : exchange.Rx)
        received += frame;
    if (received.empty())
        return {};
    constexpr std::size_t kShownBytes = 64;
    const std::size_t shown = std::min(received.size(), kShownBytes);
    return std::to_string(received.size()) + (received.size() == 1 ? " byte" : " bytes") +
           " came back, but no " + std::string(awaited) + ": " +
           util::BytesToHexTrimmed(util::AsBytes(received).first(shown)) +
           (shown < received.size() ? " …" : "");
}

} // namespace mbus::tools

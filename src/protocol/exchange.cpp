#include "protocol/exchange.h"

#include "protocol/reply_assembly.h"
#include "util/string_c.h"

#include <algorithm>

namespace mbus::protocol {
namespace {

// How many timed-out requests are kept for their late replies, and for how long after their
// time-out (at least kLateHorizonFloor, else this many time-outs).
constexpr std::size_t kTimedOutKept = 16;
constexpr int kLateHorizonTimeouts = 10;
constexpr ExchangeClock::duration kLateHorizonFloor = std::chrono::seconds(10);

// Whether `frame` holds the echo of `bytes` as they went out (from the start byte on: converters
// may swallow the wake-up bytes).
bool HoldsEcho(const std::string& frame, const std::string& bytes) {
    const std::size_t start = bytes.find(static_cast<char>(kStartByte));
    const std::string_view message = start == std::string::npos
                                         ? std::string_view(bytes)
                                         : std::string_view(bytes).substr(start);
    return !message.empty() && frame.find(message) != std::string::npos;
}

bool MayAnswer(const ParsedReply& reply, const Exchange& exchange) {
    return !exchange.Request || CanAnswer(reply, *exchange.Request);
}

// Whether the reply is of the kind the request asks for (and from its meter): a write's reply
// never answers a read of the same meter, whatever their order on the line.
bool IsAnswerTo(const ParsedReply& reply, const Exchange& exchange) {
    return !exchange.Request || Answers(reply, *exchange.Request);
}

} // namespace

std::string_view VerdictText(Verdict verdict) {
    switch (verdict) {
    case Verdict::Good:
        return "正确";
    case Verdict::NoReply:
        return "无应答";
    case Verdict::EchoOnly:
        return "仅回显";
    case Verdict::Late:
        return "迟到应答";
    case Verdict::Incomplete:
        return "帧不完整";
    case Verdict::StartByte:
        return "起始符错误";
    case Verdict::Checksum:
        return "校验和错误";
    case Verdict::EndByte:
        return "结束符错误";
    case Verdict::Address:
        return "地址不符";
    case Verdict::Type:
        return "类型不符";
    case Verdict::Sequence:
        return "序号不符";
    case Verdict::Refused:
        return "表拒绝";
    case Verdict::Unrecognised:
        return "无法识别";
    case Verdict::LineLost:
        return "串口断开";
    }
    return {};
}

std::string_view VerdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::Good:
        return "ok";
    case Verdict::NoReply:
        return "timeout";
    case Verdict::EchoOnly:
        return "echo-only";
    case Verdict::Late:
        return "late";
    case Verdict::Incomplete:
        return "incomplete";
    case Verdict::StartByte:
        return "start-byte";
    case Verdict::Checksum:
        return "checksum";
    case Verdict::EndByte:
        return "end-byte";
    case Verdict::Address:
        return "address";
    case Verdict::Type:
        return "type";
    case Verdict::Sequence:
        return "sequence";
    case Verdict::Refused:
        return "refused";
    case Verdict::Unrecognised:
        return "unrecognised";
    case Verdict::LineLost:
        return "line-lost";
    }
    return {};
}

Verdict VerdictOfReply(const ParsedReply& reply) {
    if (reply.Kind == ReplyKind::Error)
        return Verdict::Refused;
    if (reply.Kind == ReplyKind::Unknown)
        return Verdict::Unrecognised;
    switch (FirstFailure(reply.Check)) {
    case CheckFailure::None:
        return Verdict::Good;
    case CheckFailure::Incomplete:
        return Verdict::Incomplete;
    case CheckFailure::Start:
        return Verdict::StartByte;
    case CheckFailure::Checksum:
        return Verdict::Checksum;
    case CheckFailure::End:
        return Verdict::EndByte;
    case CheckFailure::Address:
        return Verdict::Address;
    case CheckFailure::Type:
        return Verdict::Type;
    case CheckFailure::Sequence:
        return Verdict::Sequence;
    }
    return Verdict::Unrecognised;
}

std::chrono::milliseconds Exchange::Elapsed() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SettledAt - SentAt);
}

std::uint64_t ExchangeTracker::Sent(const std::string& bytes, ExchangeClock::time_point at) {
    if (bytes.empty())
        return 0;
    Exchange entry;
    entry.Id = NextId_++;
    entry.Bytes = bytes;
    entry.Request = ScanReadRequest(util::AsBytes(bytes)).Request;
    entry.SentAt = at;
    Waiting_.push_back({std::move(entry), at + Timeout_});
    return Waiting_.back().Entry.Id;
}

Exchange ExchangeTracker::Unsent(const std::string& bytes, ExchangeClock::time_point at) {
    Exchange entry;
    entry.Id = NextId_++;
    entry.Bytes = bytes;
    entry.Request = ScanReadRequest(util::AsBytes(bytes)).Request;
    entry.SentAt = at;
    entry.SettledAt = at;
    entry.Outcome = Verdict::LineLost;
    return entry;
}

std::optional<Exchange> ExchangeTracker::Received(const std::string& frame,
                                                  const std::optional<ParsedReply>& reply,
                                                  ExchangeClock::time_point at) {
    if (!reply) {
        for (Pending& pending : Waiting_) {
            if (!pending.Entry.EchoSeen && HoldsEcho(frame, pending.Entry.Bytes)) {
                pending.Entry.EchoSeen = true;
                break;
            }
        }
        if (!Waiting_.empty() && EndsInUnfinishedReply(frame))
            Waiting_.front().Entry.FragmentSeen = true;
        return std::nullopt;
    }
    const auto settle = [&](Exchange entry, std::optional<Verdict> late) {
        entry.Reply = reply;
        if (entry.Request)
            CompareWithRequest(*entry.Reply, *entry.Request);
        entry.Outcome = late ? *late : VerdictOfReply(*entry.Reply);
        entry.SettledAt = at;
        return entry;
    };
    // The oldest waiting request the reply answers, else a request it answers that timed out
    // (the reply is its late answer); then the same by the meter alone, for a reply of a kind
    // no request asked for.
    for (const auto fits : {IsAnswerTo, MayAnswer}) {
        const auto waiting = std::find_if(Waiting_.begin(), Waiting_.end(),
                                          [&](const Pending& p) { return fits(*reply, p.Entry); });
        if (waiting != Waiting_.end()) {
            Exchange entry = std::move(waiting->Entry);
            Waiting_.erase(waiting);
            return settle(std::move(entry), std::nullopt);
        }
        const auto timedOut = std::find_if(TimedOut_.begin(), TimedOut_.end(),
                                           [&](const Exchange& e) { return fits(*reply, e); });
        if (timedOut != TimedOut_.end()) {
            Exchange entry = std::move(*timedOut);
            TimedOut_.erase(timedOut);
            return settle(std::move(entry), Verdict::Late);
        }
    }
    // No request of that meter: the oldest waiting request got a reply from another meter (or
    // type), and the check says so.
    if (!Waiting_.empty()) {
        Exchange entry = std::move(Waiting_.front().Entry);
        Waiting_.pop_front();
        return settle(std::move(entry), std::nullopt);
    }
    return std::nullopt;
}

const Exchange* ExchangeTracker::OldestWaiting() const {
    return Waiting_.empty() ? nullptr : &Waiting_.front().Entry;
}

std::vector<Exchange> ExchangeTracker::Expire(ExchangeClock::time_point now) {
    std::vector<Exchange> expired;
    for (auto it = Waiting_.begin(); it != Waiting_.end();) {
        if (it->Deadline > now) {
            ++it;
            continue;
        }
        Exchange entry = std::move(it->Entry);
        entry.Outcome = entry.FragmentSeen ? Verdict::Incomplete
                        : entry.EchoSeen   ? Verdict::EchoOnly
                                           : Verdict::NoReply;
        entry.SettledAt = it->Deadline;
        it = Waiting_.erase(it);
        TimedOut_.push_back(entry);
        expired.push_back(std::move(entry));
    }
    // Late replies are looked for only for a while, and only for the latest requests.
    const ExchangeClock::duration horizon =
        std::max(kLateHorizonFloor, kLateHorizonTimeouts * Timeout_);
    while (!TimedOut_.empty() &&
           (TimedOut_.size() > kTimedOutKept || TimedOut_.front().SettledAt + horizon < now))
        TimedOut_.pop_front();
    return expired;
}

bool ExchangeTracker::Waits(std::uint64_t id) const {
    return std::any_of(Waiting_.begin(), Waiting_.end(),
                       [&](const Pending& pending) { return pending.Entry.Id == id; });
}

std::optional<ExchangeClock::time_point> ExchangeTracker::NextDeadline() const {
    std::optional<ExchangeClock::time_point> next;
    for (const Pending& pending : Waiting_) {
        if (!next || pending.Deadline < *next)
            next = pending.Deadline;
    }
    return next;
}

void ExchangeTracker::Clear() {
    Waiting_.clear();
    TimedOut_.clear();
}

} // namespace mbus::protocol

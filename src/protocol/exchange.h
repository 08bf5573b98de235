// The exchange of one request and its answer, and crediting each reply to the request it answers.
// The console and `mbus read` tell the tracker what they sent and the reply they found in each
// analysed frame; it settles each request once: answered (with the verdict on the reply), no
// reply within the time-out, only the echo of the request, or answered late, after its time-out.
// A reply goes to the oldest request still waiting that it answers (the kind of reply the request
// asks for, from the meter asked; failing that, whose meter it can be); one that comes after its
// request's time-out is that request's late reply, never the answer of a newer request to
// another meter or of another kind. Times are the caller's steady clock; nothing here waits or
// reads a clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/parsed_reply.h"
#include "protocol/request.h"

namespace mbus::protocol {

using ExchangeClock = std::chrono::steady_clock;

// What became of a request, in the order a reply is judged: a reply that fails its frame check
// is named by the first failed check.
enum class Verdict {
    Good,         // a sound reply from the meter asked
    NoReply,      // nothing within the time-out
    EchoOnly,     // within the time-out only the echo of the request came back
    Late,         // the reply came after the time-out
    Incomplete,   // the reply is cut short
    StartByte,    // its start byte is wrong
    Checksum,     // its checksum is wrong
    EndByte,      // its end byte is wrong
    Address,      // it comes from another meter
    Type,         // it comes from another meter type
    Sequence,     // it does not echo the request's sequence number
    Refused,      // the meter refused the request (an error reply)
    Unrecognised, // a whole reply of no kind the reader knows
    LineLost,     // the request fell due while the line was lost: it never went out
};

// The console's word for a verdict ("正确", "无应答", "仅回显", "迟到应答", "帧不完整",
// "起始符错误", "校验和错误", "结束符错误", "地址不符", "类型不符", "序号不符", "表拒绝",
// "无法识别").
std::string_view VerdictText(Verdict verdict);
// Its name for machine-readable output ("ok", "timeout", "echo-only", "late", "incomplete",
// "start-byte", "checksum", "end-byte", "address", "type", "sequence", "refused",
// "unrecognised").
std::string_view VerdictName(Verdict verdict);
// Whether the verdict is a failure.
inline bool Failed(Verdict verdict) {
    return verdict != Verdict::Good;
}

struct Exchange {
    std::uint64_t Id = 0;               // from 1, in the order the requests went out
    std::string Bytes;                  // what was sent
    std::optional<ReadRequest> Request; // what the bytes ask, when they hold a request
    ExchangeClock::time_point SentAt;
    bool EchoSeen = false;            // the echo of the request came back
    bool FragmentSeen = false;        // the start of a reply came back, cut short
    std::optional<ParsedReply> Reply; // the reply credited to it, checked against the request
    Verdict Outcome = Verdict::NoReply;
    ExchangeClock::time_point SettledAt; // when the reply was found, or the time-out passed

    // From sending to settling.
    std::chrono::milliseconds Elapsed() const;
};

class ExchangeTracker {
public:
    explicit ExchangeTracker(ExchangeClock::duration timeout) : Timeout_(timeout) {}

    // The time a request waits for its reply; applies to requests sent from now on.
    void SetTimeout(ExchangeClock::duration timeout) { Timeout_ = timeout; }
    ExchangeClock::duration Timeout() const { return Timeout_; }

    // `bytes` went out at `at`; gives the exchange's id. Empty sends are no requests: id 0.
    std::uint64_t Sent(const std::string& bytes, ExchangeClock::time_point at);

    // A request that fell due at `at` but could not go out (the line was lost): numbered as the
    // requests sent are, and settled at once.
    Exchange Unsent(const std::string& bytes, ExchangeClock::time_point at);

    // One analysed frame and the reply found in it (none: none found), at `at`. Gives the
    // exchange the reply settles (answered, or answered late), if any. A reply that answers no
    // request is left to the caller (none); a frame that holds only a request's echo, or a reply
    // cut short, marks the request it came for, which times out as "only the echo" or
    // "incomplete" rather than "no reply".
    std::optional<Exchange> Received(const std::string& frame,
                                     const std::optional<ParsedReply>& reply,
                                     ExchangeClock::time_point at);

    // The exchanges whose time-out has passed by `now`, settled without a reply, oldest first.
    std::vector<Exchange> Expire(ExchangeClock::time_point now);

    // Whether a request waits for its answer, whether the exchange `id` still does, and until
    // when the first of them waits.
    bool Waiting() const { return !Waiting_.empty(); }
    bool Waits(std::uint64_t id) const;
    std::optional<ExchangeClock::time_point> NextDeadline() const;
    // The oldest request still waiting for its answer, or null.
    const Exchange* OldestWaiting() const;

    // Forgets every request, waiting or timed out.
    void Clear();

private:
    struct Pending {
        Exchange Entry;
        ExchangeClock::time_point Deadline;
    };

    ExchangeClock::duration Timeout_;
    std::uint64_t NextId_ = 1;
    std::deque<Pending> Waiting_;   // oldest first
    std::deque<Exchange> TimedOut_; // the latest timed-out requests, for late replies
};

// The verdict of a reply credited to `request` (checked against it already).
Verdict VerdictOfReply(const ParsedReply& reply);

} // namespace mbus::protocol

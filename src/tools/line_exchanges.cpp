#include "tools/line_exchanges.h"

#include "protocol/reply_end.h"
#include "util/string_c.h"

#include <algorithm>

namespace mbus::tools {

LineExchanges::LineExchanges(ReaderSession& session, std::string addressText,
                             Clock::duration timeout, Events events)
    : Session_(session), AddressText_(std::move(addressText)), Events_(std::move(events)),
      Tracker_(timeout) {}

LineExchanges::~LineExchanges() {
    Session_.SetFrameEnd({});
}

void LineExchanges::EndAnswersEarly() {
    Session_.SetFrameEnd([this](std::string_view collected) {
        const protocol::Exchange* waiting = Tracker_.OldestWaiting();
        if (waiting == nullptr || !waiting->Request)
            return false;
        if (!Assembler_.Holding())
            return protocol::EndsInAnswer(util::AsBytes(collected), *waiting->Request);
        const std::string joined = Assembler_.Held() + std::string(collected);
        return protocol::EndsInAnswer(util::AsBytes(joined), *waiting->Request);
    });
}

std::uint64_t LineExchanges::Sent(const std::string& bytes, Clock::time_point at) {
    return Tracker_.Sent(bytes, at);
}

protocol::Exchange LineExchanges::Unsent(const std::string& bytes, Clock::time_point at) {
    return Tracker_.Unsent(bytes, at);
}

void LineExchanges::ServeUntil(Clock::time_point until, const std::function<bool()>& stop) {
    Serve(until, stop, nullptr);
}

void LineExchanges::ServeUntilSettled(std::uint64_t id, const std::function<bool()>& stop) {
    Serve(Clock::time_point::max(), stop, [&] { return !Tracker_.Waits(id); });
}

void LineExchanges::Serve(Clock::time_point until, const std::function<bool()>& stop,
                          const std::function<bool()>& done) {
    for (;;) {
        if ((done && done()) || (stop && stop()))
            return;
        Clock::time_point deadline = until;
        if (const auto due = Tracker_.NextDeadline())
            deadline = std::min(deadline, *due);
        if (const auto frame = Session_.NextFrame(deadline, stop)) {
            Take(*frame);
            continue;
        }
        const Clock::time_point now = Clock::now();
        ExpireDue(now);
        if (now >= until)
            return;
    }
}

void LineExchanges::Take(const ReaderSession::Frame& frame) {
    if (Events_.Frame)
        Events_.Frame(frame.Bytes);
    if (const auto whole = Assembler_.Add(frame.Bytes, Tracker_.Waiting()))
        Analyse(*whole, frame.CompletedAt);
}

void LineExchanges::Analyse(const std::string& bytes, Clock::time_point at) {
    const auto reply = protocol::ParseReceivedFrame(AddressText_, util::AsBytes(bytes));
    if (reply && reply->Decoded() && Events_.Decoded)
        Events_.Decoded(*reply);
    if (const auto settled = Tracker_.Received(bytes, reply, at); settled && Events_.Settled)
        Events_.Settled(*settled, bytes);
}

void LineExchanges::ExpireDue(Clock::time_point now) {
    const auto due = Tracker_.NextDeadline();
    if (!due || *due > now)
        return;
    // A reply still being joined is analysed as it stands before its request times out.
    if (const auto held = Assembler_.Flush())
        Analyse(*held, now);
    for (const protocol::Exchange& exchange : Tracker_.Expire(now)) {
        if (Events_.Settled)
            Events_.Settled(exchange, std::string());
    }
}

} // namespace mbus::tools

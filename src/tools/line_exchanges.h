// The requests of an `mbus` subcommand and their answers on one open line, as the console has
// them: every frame of the quiet-gap framing is shown as it came, a reply the line delivered in
// bursts is joined before it is analysed, each analysed frame's reply is found once, and each
// request is settled once by the exchange tracker (answered with a verdict, no reply, only its
// echo, or answered late). The caller sends through its ToolPort and serves the line through
// this object, which tells it what happens through the events below. Reading many meters in turn,
// the caller may have an exchange end as soon as its answer is whole (EndAnswersEarly).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "protocol/exchange.h"
#include "protocol/parsed_reply.h"
#include "protocol/reply_assembly.h"
#include "tools/reader_session.h"

namespace mbus::tools {

class LineExchanges {
public:
    using Clock = ReaderSession::Clock;

    struct Events {
        // A frame of the quiet-gap framing, as it came.
        std::function<void(const std::string& frame)> Frame;
        // An analysed frame held a read-data reply that decoded.
        std::function<void(const protocol::ParsedReply& reply)> Decoded;
        // A request settled. `analysed` holds the bytes its reply was found in (empty when it
        // settled without one).
        std::function<void(const protocol::Exchange& exchange, const std::string& analysed)>
            Settled;
    };

    // `addressText` gates decoding as the console's address field does.
    LineExchanges(ReaderSession& session, std::string addressText, Clock::duration timeout,
                  Events events);
    ~LineExchanges();
    LineExchanges(const LineExchanges&) = delete;
    LineExchanges& operator=(const LineExchanges&) = delete;

    // From now on a frame ends as soon as the bytes received (joined behind a reply held) end in
    // the whole, sound answer to the oldest request waiting (protocol::EndsInAnswer), besides the
    // quiet gap that ends anything else: that request settles at once, and the next one can go
    // out without waiting for the gap.
    void EndAnswersEarly();

    // A request went out at `at` (empty bytes are none); gives its exchange id (0 for none).
    std::uint64_t Sent(const std::string& bytes, Clock::time_point at);
    // A request fell due at `at` but could not go out (the line was lost): numbered as the
    // requests sent are and settled at once as "line-lost" (not through the events: the caller
    // reports it as it reports the others).
    protocol::Exchange Unsent(const std::string& bytes, Clock::time_point at);

    // Serves the line until `until` passes or `stop` holds.
    void ServeUntil(Clock::time_point until, const std::function<bool()>& stop);
    // Serves the line until the exchange `id` has settled or `stop` holds.
    void ServeUntilSettled(std::uint64_t id, const std::function<bool()>& stop);

    bool Waiting() const { return Tracker_.Waiting(); }

private:
    // Serves until `until`, `stop`, or `done` holds.
    void Serve(Clock::time_point until, const std::function<bool()>& stop,
               const std::function<bool()>& done);
    void Take(const ReaderSession::Frame& frame);
    void Analyse(const std::string& bytes, Clock::time_point at);
    void ExpireDue(Clock::time_point now);

    ReaderSession& Session_;
    const std::string AddressText_;
    Events Events_;
    protocol::ReplyAssembler Assembler_;
    protocol::ExchangeTracker Tracker_;
};

} // namespace mbus::tools

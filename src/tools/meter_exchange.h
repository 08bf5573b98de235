// One request and the reply that answers it, for the `mbus` subcommands that send a single
// request (`address` and the meter operations: `valve`, `set-time`, `set-address`, `set-day`,
// `key-version`). The request goes out through the tool's port; the frames that come back are
// collected through its ReaderSession (a reply the line delivers in bursts joined first) until one
// holds a reply that answers the request (the kind its control code asks for, or a refusal, from
// the meter asked: see protocol::Answers) or the time-out passes; then a little longer, for the
// answers of further meters (a request to the wildcard address that two meters answer).
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/parsed_reply.h"
#include "protocol/request.h"
#include "tools/reader_session.h"

namespace mbus::tools {

class ToolPort;

struct Exchange {
    std::string Tx;                             // the bytes sent
    std::vector<std::string> Rx;                // every frame received while waiting, in order
    std::optional<protocol::ParsedReply> Reply; // the answer, compared with the request
    std::vector<protocol::ParsedReply> FurtherReplies; // answers of other meters right after it
    bool Interrupted = false;                          // a termination request ended the wait
};

// Sends `request` with two wake-up bytes through the open `port` and waits up to `timeout` from
// the moment the port took it for the answer, and some 150 ms after it for further answers. None
// when the port failed (said on `err`).
std::optional<Exchange> ExchangeOnce(ToolPort& port, const protocol::ReadRequest& request,
                                     ReaderSession::Clock::duration timeout, std::ostream& err);

// The addresses of the meters that answered, as typed and each once, the first answer's first
// ("00000000000001, 00000000000002"), when more than one meter did (a request to the wildcard
// address on a line of several); empty otherwise.
std::string AnsweringMetersText(const Exchange& exchange);

// What came back during an exchange that got no answer: "17 bytes came back, but no <awaited>:
// FE FE 68 …" (the first 64 bytes as hex), so a wrong baud rate, parity or meter is not mistaken
// for a dead line; empty when nothing came back.
std::string UnansweredBytesText(const Exchange& exchange, std::string_view awaited);

} // namespace mbus::tools

// What an operation subcommand (`valve`, `set-time`, `set-address`, `set-day`, `key-version`)
// prints about its one exchange, and its exit status. As text: "TX <hex>", "RX <hex>" for each
// frame received, then the outcome: the labelled values of a read, "accepted: <what>" with the
// status of a write, or "refused, status <hex>"; no answer (and what came back instead) and more
// than one meter answering are said on standard error. As JSON,
// one object: {"tx", "rx", "kind": "reply"|"refused"|"timeout", "address", "type", "fields",
// "status", "check", and "error_status" for a refusal}.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "tools/command_io.h"
#include "tools/meter_exchange.h"

namespace mbus::tools {

struct ExchangeReport {
    std::string_view Command; // names the subcommand in messages
    std::string What;         // what a write does, as "close the valve"
    bool Json = false;
    std::chrono::milliseconds Timeout{0};
};

// Prints the exchange and gives the exit status: kExitOk when the meter answered with a sound
// frame of a layout known here (a write accepted, a read answered), kExitIncomplete when it
// refused, did not answer in time, answered with a frame that failed its check or that is not
// understood, or when more than one meter answered.
int ReportExchange(const Exchange& exchange, const ExchangeReport& report, CommandIo io);

} // namespace mbus::tools

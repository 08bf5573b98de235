#include "tools/read_command.h"

#include "platform/clock.h"
#include "protocol/meter_type.h"
#include "protocol/parsed_reply.h"
#include "tools/line_exchanges.h"
#include "tools/line_options.h"
#include "tools/option_parser.h"
#include "tools/quoted_argument.h"
#include "tools/read_report.h"
#include "tools/reader_session.h"
#include "tools/request_options.h"
#include "tools/tool_port.h"
#include "util/string_c.h"

#include <ostream>

namespace mbus::tools {
namespace {

using Clock = ReaderSession::Clock;

void PrintHelp(std::ostream& out) {
    out << "usage: mbus read --port COM<n>|DEVICE [--baud N] [--parity NAME] [--addr TEXT]\n"
           "                 [--type N|NAME] [--di TEXT] [--command HEX] [--count N]\n"
           "                 [--interval MS] [--timeout MS] [--gap MS] [--json|--csv]\n"
           "\n"
           "Sends the read-data request through the serial port as the console's send button\n"
           "does, and collects what comes back as the console does: a frame is every byte\n"
           "received until the line has been quiet for eleven ticks of 5 ms (some 55 ms).\n"
           "For each request it prints \"TX <hex>\", then \"RX <hex>\" for each frame as the\n"
           "console's traffic view shows it, and the decoded line after a frame that decodes.\n"
           "Each request waits for its answer before the next goes out. A reply behind the\n"
           "echo of the request is decoded, and a reply the line delivers in bursts wider\n"
           "than the gap is joined before it is decoded. A reply is credited to the request\n"
           "it answers; one that comes after its request's time-out is said as that request's\n"
           "late reply (\"late reply to request N after M ms\"). A reply that fails its frame\n"
           "check (checksum, start or end byte, another meter's address or type) is shown and\n"
           "decoded all the same, and the failed check is said on standard error.\n"
           "\n"
        << PortOptionsHelp()
        << "  --addr TEXT           meter address, 14 hex digits as typed, most significant\n"
           "                        byte first (blanks optional); default\n"
           "                        \""
        << kDefaultAddress
        << "\". An address that does not\n"
           "                        give exactly seven bytes is refused; with --command any\n"
           "                        text is taken, and replies are decoded only while it\n"
           "                        gives seven bytes, as in the console\n"
           "  --type N|NAME         meter type by type list position or exact item text;\n"
           "                        default "
        << kDefaultType << "\n"
        << MeterTypeHelp()
        << "  --di TEXT             data identifier, two bytes in the order sent; default\n"
           "                        \""
        << kDefaultDataId
        << "\"\n"
           "  --command HEX         send these bytes instead of the request built from --addr,\n"
           "                        --type and --di (hex digits are paired in order, anything\n"
           "                        else is skipped); --addr still decides whether replies are\n"
           "                        decoded\n"
           "  --count N             requests to send (1..1000000); default 1\n"
           "  --interval MS         from one request to the next at least (0..3600000); a\n"
           "                        request still waiting for its answer holds the next one\n"
           "                        back; default 1000\n"
           "  --timeout MS          how long each request waits for its reply, counted to the\n"
           "                        end of its frame (1..3600000); default 2000\n"
           "  --gap MS              the quiet time that ends a frame (10..60000), in 5 ms\n"
           "                        ticks; widen it for links that pause inside a frame;\n"
           "                        default 55\n"
           "  --json                print one JSON object per request instead:\n"
           "                        {\"tx\": HEX, \"rx\": [HEX, ...], \"decoded\": TEXT|null,\n"
           "                        \"elapsed_ms\": N, \"verdict\": NAME, \"late\": false};\n"
           "                        \"rx\" holds every byte of each frame, \"decoded\" the\n"
           "                        reply decoded within the time-out, \"elapsed_ms\" the time\n"
           "                        from sending to it (or to the end of the wait),\n"
           "                        \"verdict\" ok, timeout, echo-only, incomplete,\n"
           "                        start-byte, checksum, end-byte, address, type, refused\n"
           "                        or unrecognised; a late reply is an object of its own\n"
           "                        with \"late\": true; then the keys of `mbus decode --json` "
           "for\n"
           "                        the decoded reply (\"check\", \"address\", \"type\",\n"
           "                        \"fields\", \"status\") and \"address_match\" and\n"
           "                        \"type_match\": whether the reply's address and type are\n"
           "                        the request's (null for the wildcard AA; all null without\n"
           "                        a decoded reply)\n"
           "  --csv                 print the readings as CSV (UTF-8) instead: a header, then\n"
           "                        one row per request: local time, port, address, type code,\n"
           "                        each field's value and unit in the layout of the first\n"
           "                        decoded reply, status, valve, battery, checksum ok,\n"
           "                        address match, elapsed ms; \"timeout\" (or \"echo-only\",\n"
           "                        \"incomplete\", ...) as the status of a request without a\n"
           "                        decoded reply, \"late\" for a late reply\n"
           "\n"
           "Exit status: 0 every request got a sound reply within the time-out, 1 some did\n"
           "not (or the run was interrupted), 2 bad option, or the port could not be opened\n"
           "or used, 3 the output could not be written (a reader that has gone, as in\n"
           "`mbus read … | head -1`, ends the run quietly).\n";
}

struct ReadSettings {
    std::string Port;
    LineSettings Line;
    std::string Command; // the bytes of each request
    std::string Address; // the meter address as typed: it decides whether replies are decoded
    std::uint32_t Count = 1;
    Clock::duration Interval = std::chrono::milliseconds(1000);
    Clock::duration Timeout = std::chrono::milliseconds(2000);
    std::uint16_t QuietTicks = protocol::kQuietTicks; // the quiet gap that ends a frame
    ReadReport::Format Output = ReadReport::Format::Text;
};

bool ReadOptions(const OptionParser& options, ReadSettings& settings, std::string& error) {
    if (!ReadPortOptions(options, settings.Port, settings.Line, error))
        return false;

    if (const auto command = options.Value("--command")) {
        settings.Command = util::HexToBytes(*command);
        if (settings.Command.empty()) {
            error = "the command " + QuotedArgument(*command) + " gives no bytes";
            return false;
        }
        // The request options are checked all the same, so a typing error does not go unseen.
        if (options.Has("--type") && !ParseMeterType(*options.Value("--type"), error))
            return false;
        if (options.Has("--di") && !ParseDataId(*options.Value("--di"), error))
            return false;
    } else {
        const auto request = RequestOfOptions(options, error);
        if (!request)
            return false;
        settings.Command.assign(request->begin(), request->end());
    }
    settings.Address = AddressOption(options);

    constexpr std::int32_t kLongestMs = 3600000;
    const auto count = NumberOption(options, "--count", 1, 1000000, 1, error);
    const auto interval =
        count ? MillisecondsOption(options, "--interval", 0, kLongestMs, 1000, error)
              : std::nullopt;
    const auto timeout = interval
                             ? MillisecondsOption(options, "--timeout", 1, kLongestMs, 2000, error)
                             : std::nullopt;
    if (!timeout)
        return false;
    const auto gap = MillisecondsOption(options, "--gap", 10, 60000, 55, error);
    if (!gap)
        return false;
    settings.QuietTicks = protocol::QuietTicksOfGap(static_cast<std::uint32_t>(gap->count()));
    settings.Count = static_cast<std::uint32_t>(*count);
    settings.Interval = *interval;
    settings.Timeout = *timeout;
    if (options.Has("--json") && options.Has("--csv")) {
        error = "options --json and --csv exclude each other";
        return false;
    }
    settings.Output = options.Has("--json")  ? ReadReport::Format::Json
                      : options.Has("--csv") ? ReadReport::Format::Csv
                                             : ReadReport::Format::Text;
    return true;
}

protocol::LocalTimestamp LocalTimestampNow() {
    const platform::LocalTime now = platform::LocalNow();
    return {now.Year, now.Month, now.Day, now.Hour, now.Minute, now.Second, now.Millisecond};
}

// What a settled request's failure is, for standard error; empty for a sound reply.
std::string FailureText(const protocol::Exchange& exchange, Clock::duration timeout) {
    const protocol::ParsedReply* reply = exchange.Reply ? &*exchange.Reply : nullptr;
    switch (exchange.Outcome) {
    case protocol::Verdict::Good:
        return {};
    case protocol::Verdict::NoReply:
        return "no decoded reply within " + std::to_string(Milliseconds(timeout)) + " ms";
    case protocol::Verdict::EchoOnly:
        return "only the echo of the request came back within " +
               std::to_string(Milliseconds(timeout)) + " ms";
    case protocol::Verdict::Late:
        return "the reply came after the time-out, " + std::to_string(exchange.Elapsed().count()) +
               " ms";
    case protocol::Verdict::Incomplete:
        return "the reply is cut short";
    case protocol::Verdict::StartByte:
        return "start byte wrong";
    case protocol::Verdict::Checksum:
        return "checksum wrong";
    case protocol::Verdict::EndByte:
        return "end byte wrong";
    case protocol::Verdict::Address:
        return "reply from " + protocol::AddressText(*reply->Address) + ", not " +
               protocol::AddressText(exchange.Request->Address);
    case protocol::Verdict::Type:
        return "type " + protocol::TypeCodeText(*reply->TypeCode) + ", not " +
               protocol::TypeCodeText(exchange.Request->TypeCode);
    case protocol::Verdict::Refused:
        return "the meter refused the request (status " +
               util::BytesToHexTrimmed(reply->ErrorStatus) + ")";
    case protocol::Verdict::Unrecognised:
        return "a reply that cannot be decoded";
    }
    return {};
}

int Run(const ReadSettings& settings, CommandIo io) {
    ToolPort port("read");
    const auto interrupted = [&] { return port.Interrupted() || !io.Out; };
    if (!port.Open(settings.Port, settings.Line, io.Err))
        return kExitUsage;
    ReaderSession& session = port.Session();
    session.SetQuietTicks(settings.QuietTicks);

    ReadReport report(io.Out, settings.Output, settings.Port);
    bool everyReplySound = true;
    LineExchanges::Events events;
    events.Frame = [&](const std::string& frame) { report.Frame(frame); };
    events.Decoded = [&](const protocol::ParsedReply& reply) { report.Decoded(reply); };
    events.Settled = [&](const protocol::Exchange& exchange, const std::string& analysed) {
        report.Settled(exchange, analysed);
        if (const std::string failure = FailureText(exchange, settings.Timeout);
            !failure.empty() && exchange.Outcome != protocol::Verdict::Late) {
            everyReplySound = false;
            if (!interrupted())
                io.Err << "mbus read: request " << exchange.Id << ": " << failure << "\n";
        }
    };
    LineExchanges line(session, settings.Address, settings.Timeout, std::move(events));

    Clock::time_point nextSend = Clock::now();
    for (std::uint32_t request = 0; request < settings.Count && !interrupted(); ++request) {
        // Until the next request goes out, frames still belong to the ones before.
        line.ServeUntil(nextSend, interrupted);
        if (interrupted())
            break;

        const auto sentAt = port.Send(settings.Command, io.Err);
        if (!sentAt) {
            report.Finish();
            return kExitUsage;
        }
        const std::uint64_t id = line.Sent(settings.Command, *sentAt);
        report.Sent(id, settings.Command, LocalTimestampNow());
        nextSend = *sentAt + settings.Interval;
        // The next request goes out no sooner than this one has settled.
        line.ServeUntilSettled(id, interrupted);
    }

    // Bytes still arriving make their frame when the line goes quiet, within one more time-out.
    const Clock::time_point lastWait = Clock::now() + settings.Timeout;
    while (session.Collected() > 0 && !interrupted() && Clock::now() < lastWait)
        line.ServeUntil(std::min(lastWait, Clock::now() + ReaderSession::kTickPeriod), interrupted);
    report.Finish();
    if (!io.Out.flush()) {
        // A reader that has gone needs no word; any other failure (a full disk) does.
        if (!port.PipeClosed())
            io.Err << "mbus read: cannot write the output\n";
        return kExitOutput;
    }
    if (interrupted()) {
        io.Err << "mbus read: interrupted\n";
        return kExitIncomplete;
    }
    if (const std::size_t left = session.Collected())
        io.Err << "mbus read: " << left
               << (left == 1 ? " byte still arriving at the end was"
                             : " bytes still arriving at the end were")
               << " not shown\n";
    return everyReplySound ? kExitOk : kExitIncomplete;
}

} // namespace

int RunReadCommand(CommandArgs args, CommandIo io) {
    return RunSubcommand<ReadSettings>(
        "read",
        OptionParser({"--port", "--baud", "--parity", "--addr", "--type", "--di", "--command",
                      "--count", "--interval", "--timeout", "--gap"},
                     {"--json", "--csv"}),
        args, io, PrintHelp, ReadOptions, Run);
}

} // namespace mbus::tools

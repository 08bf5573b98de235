#include "tools/read_command.h"

#include "platform/clock.h"
#include "protocol/meter_type.h"
#include "protocol/parsed_reply.h"
#include "protocol/round_tally.h"
#include "tools/line_exchanges.h"
#include "tools/line_options.h"
#include "tools/meter_list_file.h"
#include "tools/option_parser.h"
#include "tools/quoted_argument.h"
#include "tools/read_report.h"
#include "tools/reader_session.h"
#include "tools/request_options.h"
#include "tools/tool_port.h"
#include "util/string_c.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <ostream>

namespace mbus::tools {
namespace {

using Clock = ReaderSession::Clock;

void PrintHelp(std::ostream& out) {
    out << "usage: mbus read --port COM<n>|DEVICE [--baud N] [--parity NAME] [--addr TEXT]...\n"
           "                 [--type N|NAME]... [--meters FILE] [--di TEXT] [--command HEX]\n"
           "                 [--count N] [--interval MS] [--timeout MS] [--gap MS] [--reconnect]\n"
           "                 [--json|--csv]\n"
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
           "A round: with --meters, or with several --addr, it reads each meter in turn, one\n"
           "request at a time, --count rounds. An exchange ends as soon as the reply is whole\n"
           "by its length byte and end byte 0x16, with the right checksum, address and type,\n"
           "and the next request goes out at once; anything else ends at the quiet gap. Each\n"
           "decoded line starts with the meter's address and its name from the list. At the\n"
           "end a summary goes to standard error, e.g. \"48/50 answered in 14.2 s; no answer:\n"
           "00000000000017 (3-201 厨房), 00000000000023; checksum wrong: 00000000000031\"\n"
           "(\"×2\" after a meter that failed so in two rounds).\n"
           "\n"
        << PortOptionsHelp()
        << "  --addr TEXT           meter address, 14 hex digits as typed, most significant\n"
           "                        byte first (blanks optional); default\n"
           "                        \""
        << kDefaultAddress
        << "\". An address that does not\n"
           "                        give exactly seven bytes is refused; with --command any\n"
           "                        text is taken, and replies are decoded only while it\n"
           "                        gives seven bytes, as in the console. Given more than\n"
           "                        once: a round of those meters\n"
           "  --type N|NAME         meter type by type list position or exact item text;\n"
           "                        default "
        << kDefaultType
        << ". One for all addresses, or one for\n"
           "                        each --addr in their order\n"
        << MeterTypeHelp()
        << "  --meters FILE         a round of the meters of a meter list: a CSV file (UTF-8,\n"
           "                        with or without BOM) of one meter a line,\n"
           "                        \"address,type[,name]\": the address as typed (14 hex\n"
           "                        digits), the type as its position (0), its code (0x10) or\n"
           "                        its item text, and a name such as \"3-201 厨房\" (quote it\n"
           "                        when it holds a comma); lines starting with # are\n"
           "                        comments. Each bad line is named with its field on\n"
           "                        standard error and nothing is read\n"
        << "  --di TEXT             data identifier, two bytes in the order sent; default\n"
           "                        \""
        << kDefaultDataId
        << "\"; replies are decoded for 90 1F (the current\n"
           "                        counters), D1 20 .. D1 2B (the settlement-day counter of\n"
           "                        1 .. 12 months ago), 81 02 (price table), 81 03\n"
           "                        (settlement day), 81 04 (reading day) and 81 05 (purchase\n"
           "                        record), in either byte order\n"
           "  --command HEX         send these bytes instead of the request built from --addr,\n"
           "                        --type and --di (hex digits are paired in order, anything\n"
           "                        else is skipped); --addr still decides whether replies are\n"
           "                        decoded\n"
           "  --count N             requests to send, or rounds to read (1..1000000);\n"
           "                        default 1\n"
           "  --interval MS         from one request (or the start of one round) to the next\n"
           "                        at least (0..3600000); a request still waiting for its\n"
           "                        answer holds the next one back; default 1000\n"
           "  --timeout MS          how long each request waits for its reply, counted to the\n"
           "                        end of its frame (1..3600000); default 2000\n"
           "  --gap MS              the quiet time that ends a frame (10..60000), in 5 ms\n"
           "                        ticks; widen it for links that pause inside a frame;\n"
           "                        default 55\n"
           "  --reconnect           when the line is lost under the port (an adapter pulled),\n"
           "                        wait for its COM number to stand for a terminal again and\n"
           "                        open it again at the same settings; requests that fall\n"
           "                        due meanwhile fail as \"line lost\" (JSON \"error\", CSV\n"
           "                        status line-lost) and the run goes on\n"
           "  --json                print one JSON object per request instead:\n"
           "                        {\"tx\": HEX, \"rx\": [HEX, ...], \"decoded\": TEXT|null,\n"
           "                        \"elapsed_ms\": N, \"verdict\": NAME, \"late\": false};\n"
           "                        in a round it starts with \"meter\": ADDRESS, \"name\":\n"
           "                        NAME|null;\n"
           "                        \"rx\" holds every byte of each frame, \"decoded\" the\n"
           "                        reply decoded within the time-out, \"elapsed_ms\" the time\n"
           "                        from sending to it (or to the end of the wait),\n"
           "                        \"verdict\" ok, timeout, echo-only, incomplete,\n"
           "                        start-byte, checksum, end-byte, address, type, refused\n"
           "                        (with \"error_status\", the meter's status bytes as hex)\n"
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
           "                        address match, elapsed ms (in a round, the name after the\n"
           "                        address); \"timeout\" (or \"echo-only\",\n"
           "                        \"incomplete\", ...) as the status of a request without a\n"
           "                        decoded reply, \"late\" for a late reply\n"
           "\n"
           "Exit status: 0 every request got a sound reply within the time-out (every meter\n"
           "answered every round), 1 some did not (or the run was interrupted), 2 bad option\n"
           "or meter list, or the port could not be opened\n"
           "or used, 3 the output could not be written (a reader that has gone, as in\n"
           "`mbus read … | head -1`, ends the run quietly).\n";
}

// A meter to read: the request's bytes, and in a round the meter's address as typed, its type
// code and its name.
struct ReadTarget {
    std::string Command;
    ListedMeterName Meter;
    std::uint8_t TypeCode = 0;
};

struct ReadSettings {
    std::string Port;
    LineSettings Line;
    std::vector<ReadTarget> Targets;       // one meter, or those of a round in their order
    std::optional<std::string> MetersFile; // a round of a list's meters, read before the port opens
    bool Round = false;
    bool Reconnect = false; // a lost line is waited for and opened again
    protocol::DataIdentifier DataId{};
    std::string Address; // the meter address as typed: it decides whether replies are decoded
    std::uint32_t Count = 1;
    Clock::duration Interval = std::chrono::milliseconds(1000);
    Clock::duration Timeout = std::chrono::milliseconds(2000);
    std::uint16_t QuietTicks = protocol::kQuietTicks; // the quiet gap that ends a frame
    ReadReport::Format Output = ReadReport::Format::Text;
};

ReadTarget TargetOf(const protocol::LineAddress& address, int typePosition,
                    const protocol::DataIdentifier& dataId, std::string name) {
    std::array<std::uint8_t, protocol::kAddressSize> typed;
    std::reverse_copy(address.begin(), address.end(), typed.begin());
    const std::uint8_t typeCode = *protocol::MeterTypeCode(typePosition);
    protocol::ReadFrameBuffer frame{};
    protocol::BuildReadFrame(frame, typed, typeCode, protocol::kControlRead, dataId);
    return {std::string(frame.begin(), frame.end()),
            {protocol::AddressText(address), std::move(name)},
            typeCode};
}

// The meters of several --addr, with one --type for all or one each.
bool ReadAddressRound(const OptionParser& options, ReadSettings& settings, std::string& error) {
    const std::vector<std::string> addresses = options.Values("--addr");
    const std::vector<std::string> types = options.Values("--type");
    if (types.size() > 1 && types.size() != addresses.size()) {
        error = "give one --type for all addresses or one for each: " +
                std::to_string(addresses.size()) + " addresses, " + std::to_string(types.size()) +
                " types";
        return false;
    }
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const auto address = ParseMeterAddress(addresses[i], error);
        const std::string typeText = types.empty()       ? std::string(kDefaultType)
                                     : types.size() == 1 ? types[0]
                                                         : types[i];
        const auto type = address ? ParseMeterType(typeText, error) : std::nullopt;
        if (!type)
            return false;
        protocol::LineAddress onTheLine;
        std::reverse_copy(address->begin(), address->end(), onTheLine.begin());
        settings.Targets.push_back(TargetOf(onTheLine, *type, settings.DataId, {}));
    }
    settings.Address = settings.Targets.front().Meter.Address;
    return true;
}

bool ReadOptions(const OptionParser& options, ReadSettings& settings, std::string& error) {
    if (!ReadPortOptions(options, settings.Port, settings.Line, error))
        return false;

    settings.Reconnect = options.Has("--reconnect");
    settings.MetersFile = options.Value("--meters");
    const std::size_t addresses = options.Values("--addr").size();
    settings.Round = settings.MetersFile || addresses > 1;
    if (settings.MetersFile && addresses > 0) {
        error = "options --meters and --addr exclude each other";
        return false;
    }
    if (settings.Round && options.Has("--command")) {
        error = "option --command sends one request; a round takes --meters or several --addr";
        return false;
    }
    if (settings.MetersFile && options.Has("--type")) {
        error = "option --type does not go with --meters: the list gives each meter's type";
        return false;
    }

    if (settings.Round) {
        const auto dataId =
            ParseDataId(options.Value("--di").value_or(std::string(kDefaultDataId)), error);
        if (!dataId)
            return false;
        settings.DataId = *dataId;
        if (!settings.MetersFile && !ReadAddressRound(options, settings, error))
            return false;
    } else if (const auto command = options.Value("--command")) {
        settings.Targets.push_back({util::HexToBytes(*command), {}, 0});
        if (settings.Targets.front().Command.empty()) {
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
        settings.Targets.push_back({std::string(request->begin(), request->end()), {}, 0});
    }
    if (!settings.Round)
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
    case protocol::Verdict::Sequence:
        return "sequence number " + util::BytesToHexTrimmed(std::span(&*reply->Sequence, 1)) +
               ", not " + util::BytesToHexTrimmed(std::span(&exchange.Request->Sequence, 1));
    case protocol::Verdict::Refused:
        return "the meter refused the request (status " +
               util::BytesToHexTrimmed(reply->ErrorStatus) + ")";
    case protocol::Verdict::Unrecognised:
        return "a reply that cannot be decoded";
    case protocol::Verdict::LineLost:
        return "line lost";
    }
    return {};
}

// The words of the round's summary for a failed read.
std::string_view SummaryWords(protocol::Verdict verdict) {
    switch (verdict) {
    case protocol::Verdict::Good:
        return "answered";
    case protocol::Verdict::NoReply:
    case protocol::Verdict::Late:
        return "no answer";
    case protocol::Verdict::EchoOnly:
        return "only the echo";
    case protocol::Verdict::Incomplete:
        return "cut short";
    case protocol::Verdict::StartByte:
        return "start byte wrong";
    case protocol::Verdict::Checksum:
        return "checksum wrong";
    case protocol::Verdict::EndByte:
        return "end byte wrong";
    case protocol::Verdict::Address:
        return "another meter's address";
    case protocol::Verdict::Type:
        return "another meter type";
    case protocol::Verdict::Sequence:
        return "another sequence number";
    case protocol::Verdict::Refused:
        return "refused";
    case protocol::Verdict::Unrecognised:
        return "not understood";
    case protocol::Verdict::LineLost:
        return "line lost";
    }
    return {};
}

// "48/50 answered in 14.2 s; no answer: 00000000000017 (3-201 厨房), ...; checksum wrong: ..."
std::string RoundSummary(const protocol::RoundTally& tally, const std::vector<ReadTarget>& targets,
                         Clock::duration took) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", std::chrono::duration<double>(took).count());
    std::string text = std::to_string(tally.GoodReads()) + "/" + std::to_string(tally.Reads()) +
                       " answered in " + seconds + " s";
    std::map<protocol::Verdict, std::vector<std::string>> failed; // in the order of the verdicts
    for (std::size_t i = 0; i < targets.size(); ++i) {
        for (const auto& [verdict, times] : tally.Meters()[i].Failures) {
            failed[verdict].push_back(MeterLabel(targets[i].Meter) +
                                      (times > 1 ? " ×" + std::to_string(times) : ""));
        }
    }
    for (const auto& [verdict, meters] : failed) {
        text += "; " + std::string(SummaryWords(verdict)) + ": ";
        for (std::size_t i = 0; i < meters.size(); ++i)
            text += (i ? ", " : "") + meters[i];
    }
    return text;
}

// The reply layouts of a round's reads of `dataId`: the layout of that read when every meter type
// answers it alike, else those of the targets' types, in the order they first come.
std::vector<const protocol::ReplyFormat*> FormatsOfTargets(const std::vector<ReadTarget>& targets,
                                                           const protocol::DataIdentifier& dataId) {
    if (const protocol::ReplyFormat* fixed = protocol::FixedReadReplyFormatOf(dataId))
        return {fixed};
    std::vector<const protocol::ReplyFormat*> formats;
    for (const ReadTarget& target : targets) {
        const protocol::ReplyFormat* format = protocol::AnswersInHeatLayout(target.TypeCode)
                                                  ? &protocol::kHeatReplyFormat
                                                  : &protocol::kWaterReplyFormat;
        if (std::find(formats.begin(), formats.end(), format) == formats.end())
            formats.push_back(format);
    }
    return formats;
}

// Whether the port is open for the next request: a line lost under it is opened again once its
// COM number stands for a terminal again (the adapter is back). Said once when the line is away
// and once when it is back.
bool ReopenLostLine(ReaderSession& session, const std::string& port, bool& lostSaid,
                    std::ostream& err) {
    if (!session.Lost())
        return true;
    if (session.Reopen()) {
        err << "mbus read: " << ShownText(port) << ": the line is back\n";
        lostSaid = false;
        return true;
    }
    if (!lostSaid)
        err << "mbus read: " << ShownText(port)
            << ": the line was lost; waiting for it to come back\n";
    lostSaid = true;
    return false;
}

int Run(const ReadSettings& settings, CommandIo io) {
    std::vector<ReadTarget> targets = settings.Targets;
    if (settings.MetersFile) {
        const auto listed = ReadMeterListFile("read", *settings.MetersFile, io.Err);
        if (!listed)
            return kExitUsage;
        for (const protocol::ListedMeter& meter : *listed)
            targets.push_back(
                TargetOf(meter.Address, meter.TypePosition, settings.DataId, meter.Name));
    }
    const std::string addressText =
        settings.Round ? targets.front().Meter.Address : settings.Address;

    ToolPort port("read");
    const auto interrupted = [&] { return port.Interrupted() || !io.Out; };
    if (!port.Open(settings.Port, settings.Line, io.Err))
        return kExitUsage;
    ReaderSession& session = port.Session();
    session.SetQuietTicks(settings.QuietTicks);

    ReadReport report(io.Out, settings.Output, settings.Port);
    protocol::RoundTally tally(targets.size());
    std::map<std::uint64_t, std::size_t> targetOfRequest; // requests not settled yet
    bool everyReplySound = true;
    LineExchanges::Events events;
    events.Frame = [&](const std::string& frame) { report.Frame(frame); };
    events.Decoded = [&](const protocol::ParsedReply& reply) { report.Decoded(reply); };
    const auto settle = [&](const protocol::Exchange& exchange, const std::string& analysed) {
        report.Settled(exchange, analysed);
        if (exchange.Outcome == protocol::Verdict::Late)
            return; // its request failed when it timed out
        const auto target = targetOfRequest.find(exchange.Id);
        std::string meter;
        if (target != targetOfRequest.end()) {
            tally.Add(target->second, exchange.Outcome);
            if (settings.Round)
                meter = ", " + MeterLabel(targets[target->second].Meter);
            targetOfRequest.erase(target);
        }
        if (const std::string failure = FailureText(exchange, settings.Timeout); !failure.empty()) {
            everyReplySound = false;
            if (!interrupted())
                io.Err << "mbus read: request " << exchange.Id << meter << ": " << failure << "\n";
        }
    };
    events.Settled = settle;
    LineExchanges line(session, addressText, settings.Timeout, std::move(events));
    bool lineLostSaid = false;
    if (settings.Round) {
        std::vector<ListedMeterName> names;
        for (const ReadTarget& target : targets)
            names.push_back(target.Meter);
        report.ReadRound(std::move(names), FormatsOfTargets(targets, settings.DataId));
        line.EndAnswersEarly();
    }

    const Clock::time_point started = Clock::now();
    Clock::time_point nextRound = started;
    for (std::uint32_t round = 0; round < settings.Count && !interrupted(); ++round) {
        for (std::size_t i = 0; i < targets.size() && !interrupted(); ++i) {
            // The interval runs from one round's first request to the next round's; within a
            // round each request follows the one before as soon as it has settled. Until the
            // next request goes out, frames still belong to the ones before.
            if (i == 0)
                line.ServeUntil(nextRound, interrupted);
            if (interrupted())
                break;

            const std::string& command = targets[i].Command;
            const std::optional<std::size_t> meter =
                settings.Round ? std::optional<std::size_t>(i) : std::nullopt;
            if (settings.Reconnect &&
                !ReopenLostLine(session, settings.Port, lineLostSaid, io.Err)) {
                // The line is away: this request falls due and fails; the run goes on.
                const protocol::Exchange unsent = line.Unsent(command, Clock::now());
                targetOfRequest[unsent.Id] = i;
                report.Unsent(unsent.Id, command, LocalTimestampNow(), meter);
                settle(unsent, std::string());
                if (i == 0)
                    nextRound = unsent.SentAt + settings.Interval;
                continue;
            }
            const auto sentAt = port.Send(command, io.Err);
            if (!sentAt) {
                report.Finish();
                return kExitUsage;
            }
            const std::uint64_t id = line.Sent(command, *sentAt);
            targetOfRequest[id] = i;
            report.Sent(id, command, LocalTimestampNow(), meter);
            if (i == 0)
                nextRound = *sentAt + settings.Interval;
            line.ServeUntilSettled(id, interrupted);
        }
    }
    const Clock::duration took = Clock::now() - started;

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
    if (settings.Round)
        io.Err << "mbus read: " << RoundSummary(tally, targets, took) << "\n";
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
        OptionParser({"--port", "--baud", "--parity", "--addr", "--type", "--meters", "--di",
                      "--command", "--count", "--interval", "--timeout", "--gap"},
                     {"--json", "--csv", "--reconnect"}),
        args, io, PrintHelp, ReadOptions, Run);
}

} // namespace mbus::tools

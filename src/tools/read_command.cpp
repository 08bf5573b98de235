#include "tools/read_command.h"

#include "platform/clock.h"
#include "platform/interrupt_flag.h"
#include "protocol/frame_decoding.h"
#include "protocol/meter_reading.h"
#include "tools/line_options.h"
#include "tools/option_parser.h"
#include "tools/port_failure.h"
#include "tools/port_target.h"
#include "tools/quoted_argument.h"
#include "tools/read_report.h"
#include "tools/reader_session.h"
#include "tools/request_options.h"
#include "util/integer_text.h"
#include "util/string_c.h"

#include <ostream>

namespace mbus::tools {
namespace {

using Clock = ReaderSession::Clock;

void PrintHelp(std::ostream& out) {
    out << "usage: mbus read --port COM<n>|DEVICE [--baud N] [--parity NAME] [--addr TEXT]\n"
           "                 [--type N|NAME] [--di TEXT] [--command HEX] [--count N]\n"
           "                 [--interval MS] [--timeout MS] [--json|--csv]\n"
           "\n"
           "Sends the read-data request through the serial port as the console's send button\n"
           "does, and collects what comes back as the console does: a frame is every byte\n"
           "received until the line has been quiet for eleven ticks of 5 ms (some 55 ms).\n"
           "For each request it prints \"TX <hex>\", then \"RX <hex>\" for each frame as the\n"
           "console's traffic view shows it, and the decoded line after a frame that decodes.\n"
           "Frames that come between two requests belong to the earlier one.\n"
           "\n"
           "  --port COM<n>|DEVICE  the port: a COM name of the port map (see `mbus ports`), or\n"
           "                        a device path such as /dev/ttyUSB0, which is opened through\n"
           "                        its COM number or, when the map has none, through a COM\n"
           "                        link registered for the run and removed afterwards\n"
           "  --baud N              bits per second; default 2400\n"
           "  --parity NAME         none, odd, even, mark or space; default none\n"
           "  --addr TEXT           meter address, 14 hex digits as typed, most significant\n"
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
           "  --interval MS         from one request to the next (0..3600000), or longer when\n"
           "                        the wait for a reply takes longer; default 1000\n"
           "  --timeout MS          how long each request waits for a decoded reply, counted\n"
           "                        to the end of its frame (1..3600000); default 2000\n"
           "  --json                print one JSON object per request instead:\n"
           "                        {\"tx\": HEX, \"rx\": [HEX, ...], \"decoded\": TEXT|null,\n"
           "                        \"elapsed_ms\": N}; \"rx\" holds every byte of each frame,\n"
           "                        \"decoded\" the reply decoded within the time-out and\n"
           "                        \"elapsed_ms\" the time from sending to it (or to the end\n"
           "                        of the wait); then the keys of `mbus decode --json` for\n"
           "                        the decoded reply (\"check\", \"address\", \"type\",\n"
           "                        \"fields\", \"status\") and \"address_match\" and\n"
           "                        \"type_match\": whether the reply's address and type are\n"
           "                        the request's (null for the wildcard AA; all null without\n"
           "                        a decoded reply)\n"
           "  --csv                 print the readings as CSV (UTF-8) instead: a header, then\n"
           "                        one row per request: local time, port, address, type code,\n"
           "                        each field's value and unit in the layout of the first\n"
           "                        decoded reply, status, valve, battery, checksum ok,\n"
           "                        address match, elapsed ms; \"timeout\" as the status of a\n"
           "                        request without a decoded reply\n"
           "\n"
           "Exit status: 0 every request got a decoded reply within the time-out, 1 some did\n"
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
        count ? NumberOption(options, "--interval", 0, kLongestMs, 1000, error) : std::nullopt;
    const auto timeout =
        interval ? NumberOption(options, "--timeout", 1, kLongestMs, 2000, error) : std::nullopt;
    if (!timeout)
        return false;
    settings.Count = static_cast<std::uint32_t>(*count);
    settings.Interval = std::chrono::milliseconds(*interval);
    settings.Timeout = std::chrono::milliseconds(*timeout);
    if (options.Has("--json") && options.Has("--csv")) {
        error = "options --json and --csv exclude each other";
        return false;
    }
    settings.Output = options.Has("--json")  ? ReadReport::Format::Json
                      : options.Has("--csv") ? ReadReport::Format::Csv
                                             : ReadReport::Format::Text;
    return true;
}

std::int64_t Milliseconds(Clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

protocol::LocalTimestamp LocalTimestampNow() {
    const platform::LocalTime now = platform::LocalNow();
    return {now.Year, now.Month, now.Day, now.Hour, now.Minute, now.Second, now.Millisecond};
}

int Run(const ReadSettings& settings, CommandIo io) {
    // A closed standard output (`mbus read … | head -1`) stops the run like Ctrl+C, so the port
    // is closed and a COM link made for the run removed before the program ends.
    const platform::InterruptFlag interrupt(platform::InterruptFlag::BrokenPipe::Stops);
    const auto interrupted = [&] { return interrupt.Raised() || !io.Out; };
    const std::string port = ShownText(settings.Port);

    PortTarget target;
    std::string error;
    if (!target.Select(settings.Port, error)) {
        io.Err << "mbus read: " << error << "\n";
        return kExitUsage;
    }
    LineSettings line = settings.Line;
    line.ComNumber = target.ComNumber();
    std::optional<ReaderSession> session;
    try {
        session.emplace(line);
    } catch (const std::exception& e) {
        io.Err << "mbus read: " << port << ": " << PortFailureText(e, PortStep::Opening) << "\n";
        return kExitUsage;
    }

    ReadReport report(io.Out, settings.Output, settings.Port);
    // What the command asks for, to check the replies against (none for bytes that hold no
    // request).
    const std::optional<protocol::ReadRequest> asked =
        protocol::ScanReadRequest(util::AsBytes(settings.Command)).Request;
    const auto receive = [&](const ReaderSession::Frame& frame) {
        const std::string decoded =
            protocol::DecodeReceivedFrame(settings.Address, util::AsBytes(frame.Bytes));
        report.Received(frame.Bytes, decoded);
        return decoded;
    };
    // The reading of a frame that decoded, from the bytes the decoder saw.
    const auto readingOf = [&](const std::string& frame) {
        const auto bytes = util::AsBytes(frame);
        return protocol::ReadMeterReply(
            bytes.first(std::min(bytes.size(), protocol::kAnalyseBufferSize)),
            asked ? &*asked : nullptr);
    };

    bool everyReplyDecoded = true;
    Clock::time_point nextSend = Clock::now();
    for (std::uint32_t request = 0; request < settings.Count && !interrupted(); ++request) {
        // Until the next request goes out, frames still belong to the one before.
        while (const auto frame = session->NextFrame(nextSend, interrupted))
            receive(*frame);
        if (interrupted())
            break;

        Clock::time_point sentAt;
        try {
            sentAt = session->Send(settings.Command);
        } catch (const std::exception& e) {
            report.Finish();
            io.Err << "mbus read: " << port << ": " << PortFailureText(e, PortStep::Sending)
                   << "\n";
            return kExitUsage;
        }
        report.Sent(settings.Command, LocalTimestampNow(), asked);
        nextSend = sentAt + settings.Interval;

        std::optional<std::string> decoded;
        std::optional<protocol::MeterReading> reading;
        Clock::time_point settledAt;
        while (!decoded) {
            const auto frame = session->NextFrame(sentAt + settings.Timeout, interrupted);
            if (!frame)
                break;
            if (std::string line = receive(*frame); !line.empty()) {
                decoded = std::move(line);
                reading = readingOf(frame->Bytes);
                settledAt = frame->CompletedAt;
            }
        }
        if (!decoded) {
            settledAt = Clock::now();
            everyReplyDecoded = false;
            if (!interrupted())
                io.Err << "mbus read: request " << request + 1 << ": no decoded reply within "
                       << Milliseconds(settings.Timeout) << " ms\n";
        }
        report.Settled(decoded, reading, Milliseconds(settledAt - sentAt));
    }

    // Bytes still arriving make their frame when the line goes quiet, within one more time-out.
    const Clock::time_point lastWait = Clock::now() + settings.Timeout;
    while (session->Collected() > 0 && !interrupted()) {
        const auto frame = session->NextFrame(lastWait, interrupted);
        if (!frame)
            break;
        receive(*frame);
    }
    report.Finish();
    if (!io.Out.flush()) {
        // A reader that has gone needs no word; any other failure (a full disk) does.
        if (!interrupt.PipeClosed())
            io.Err << "mbus read: cannot write the output\n";
        return kExitOutput;
    }
    if (interrupted()) {
        io.Err << "mbus read: interrupted\n";
        return kExitIncomplete;
    }
    if (const std::size_t left = session->Collected())
        io.Err << "mbus read: " << left
               << (left == 1 ? " byte still arriving at the end was"
                             : " bytes still arriving at the end were")
               << " not shown\n";
    return everyReplyDecoded ? kExitOk : kExitIncomplete;
}

} // namespace

int RunReadCommand(CommandArgs args, CommandIo io) {
    OptionParser options({"--port", "--baud", "--parity", "--addr", "--type", "--di", "--command",
                          "--count", "--interval", "--timeout"},
                         {"--json", "--csv"});
    if (const auto done = options.Open("read", args, io, PrintHelp))
        return *done;
    ReadSettings settings;
    std::string error;
    return ReadOptions(options, settings, error) ? Run(settings, io)
                                                 : UsageError(io.Err, "read", error);
}

} // namespace mbus::tools

#include "tools/operation_commands.h"

#include "platform/clock.h"
#include "protocol/meter_operations.h"
#include "protocol/meter_type.h"
#include "tools/exchange_report.h"
#include "tools/line_options.h"
#include "tools/meter_exchange.h"
#include "tools/option_parser.h"
#include "tools/quoted_argument.h"
#include "tools/request_options.h"
#include "tools/tool_port.h"
#include "util/integer_text.h"

#include <algorithm>
#include <ostream>

namespace mbus::tools {
namespace {

// The meter, the line and the output, as every operation takes them.
struct OperationSettings {
    std::string Port;
    LineSettings Line;
    protocol::MeterTarget Meter;
    std::chrono::milliseconds Timeout{2000};
    bool Json = false;
};

// What one subcommand sends, and what a write does in words.
struct Operation {
    protocol::ReadRequest Request;
    std::string What;
};

// Builds the subcommand's operation from its own options and plain arguments for the meter the
// shared options name; none with `error` set when they are wrong.
using OperationOf = std::optional<Operation> (*)(const OptionParser& options,
                                                 const protocol::MeterTarget& meter,
                                                 std::string& error);

const char* const kOperationOptions =
    "            [--baud N] [--parity NAME] [--addr TEXT]\n"
    "            [--type N|NAME] [--di-order high|low] [--timeout MS] [--json]\n";

// The help lines of the shared options.
std::string OperationOptionsHelp(std::string_view addressUse) {
    std::string help = PortOptionsHelp();
    help +=
        "  --addr TEXT           the meter's address, 14 hex digits as typed, most\n"
        "                        significant byte first; default \"" +
        std::string(kDefaultAddress) + "\",\n" + std::string(addressUse) +
        "  --type N|NAME         meter type by type list position or exact item text;\n"
        "                        default " +
        std::string(kDefaultType) + "\n" + MeterTypeHelp() +
        "  --di-order high|low   the byte order of the identifier in the request: high\n"
        "                        byte first as written (A0 17), or low byte first (17 A0)\n"
        "                        as some meters want; default high. Replies are\n"
        "                        understood in either order\n"
        "  --timeout MS          how long to wait for the answer (1..3600000); default\n"
        "                        2000\n"
        "  --json                print one JSON object instead: {\"tx\": HEX, \"rx\": [HEX,\n"
        "                        ...], \"kind\": \"reply\"|\"refused\"|\"timeout\", \"address\",\n"
        "                        \"type\", \"fields\": [{\"label\", \"value\", \"unit\",\n"
        "                        \"raw\"}, ...], \"status\", \"check\", and for a refusal\n"
        "                        \"error_status\" (the meter's status bytes as hex)}\n"
        "\n"
        "Prints \"TX <hex>\" for the request, \"RX <hex>\" for each frame received, then the\n"
        "answer: \"accepted: ...\" with the meter's status for a write, the labelled values\n"
        "for a read, \"refused, status <hex>\" when the meter refuses. A reply answers only\n"
        "when its sequence number is the request's.\n"
        "\n"
        "Exit status: 0 the meter accepted or answered with a sound frame, 1 it refused,\n"
        "did not answer within the time-out, or answered with a frame that failed its\n"
        "check, or more than one meter answered (or the run was interrupted), 2 bad\n"
        "option, or the port could not be opened or used, 3 the output could not be\n"
        "written.\n";
    return help;
}

constexpr std::string_view kAddressUse = "                        any meter that hears it\n";

bool ReadOperationOptions(const OptionParser& options, OperationSettings& settings,
                          std::string& error) {
    if (!ReadPortOptions(options, settings.Port, settings.Line, error))
        return false;
    const auto typed = ParseMeterAddress(AddressOption(options), error);
    if (!typed)
        return false;
    std::reverse_copy(typed->begin(), typed->end(), settings.Meter.Address.begin());
    const auto type =
        ParseMeterType(options.Value("--type").value_or(std::string(kDefaultType)), error);
    if (!type)
        return false;
    settings.Meter.TypeCode = *protocol::MeterTypeCode(*type);
    const std::string order = options.Value("--di-order").value_or("high");
    if (order != "high" && order != "low") {
        error = "option --di-order takes high or low, not " + QuotedArgument(order);
        return false;
    }
    settings.Meter.Order =
        order == "high" ? protocol::DataIdOrder::HighFirst : protocol::DataIdOrder::LowFirst;
    const auto timeout = MillisecondsOption(options, "--timeout", 1, 3600000, 2000, error);
    if (!timeout)
        return false;
    settings.Timeout = *timeout;
    settings.Json = options.Has("--json");
    return true;
}

int RunOperation(std::string_view command, const OperationSettings& settings,
                 const Operation& operation, CommandIo io) {
    ToolPort port{std::string(command)};
    if (!port.Open(settings.Port, settings.Line, io.Err))
        return kExitUsage;
    const auto exchange = ExchangeOnce(port, operation.Request, settings.Timeout, io.Err);
    if (!exchange)
        return kExitUsage;
    return ReportExchange(*exchange, {command, operation.What, settings.Json, settings.Timeout},
                          io);
}

// The whole of an operation subcommand: its options (the shared ones and `valued`), its help,
// its operation.
int RunOperationCommand(std::string_view command, std::set<std::string> valued, CommandArgs args,
                        CommandIo io, void (*printHelp)(std::ostream&), OperationOf operationOf,
                        OptionParser::PlainArguments plain) {
    valued.insert({"--port", "--baud", "--parity", "--addr", "--type", "--di-order", "--timeout"});
    OptionParser options(std::move(valued), {"--json"});
    if (const auto done = options.Open(command, args, io, printHelp, plain))
        return *done;
    OperationSettings settings;
    std::string error;
    if (!ReadOperationOptions(options, settings, error))
        return UsageError(io.Err, command, error);
    const auto operation = operationOf(options, settings.Meter, error);
    if (!operation)
        return UsageError(io.Err, command, error);
    return RunOperation(command, settings, *operation, io);
}

// The plain arguments, when there are exactly `count`; else none with `error` set.
const std::vector<std::string>* PlainArguments(const OptionParser& options, std::size_t count,
                                               std::string_view usage, std::string& error) {
    if (options.Positional().size() == count)
        return &options.Positional();
    error = "takes " + std::string(usage) + " (" + std::to_string(options.Positional().size()) +
            " arguments given)";
    return nullptr;
}

// valve open|close

void PrintValveHelp(std::ostream& out) {
    out << "usage: mbus valve open|close --port COM<n>|DEVICE\n"
        << kOperationOptions
        << "\n"
           "Opens or closes the valve of a prepaid water or gas meter: sends the write\n"
           "request (control 0x04, identifier A0 17, data 0x55 to open, 0x99 to close) and\n"
           "waits for the meter to accept it (0x84; most meters add their status bytes,\n"
           "whose bits 0-1 say the valve's state) or refuse it.\n"
           "\n"
        << OperationOptionsHelp(kAddressUse);
}

std::optional<Operation> ValveOperation(const OptionParser& options,
                                        const protocol::MeterTarget& meter, std::string& error) {
    const auto* plain = PlainArguments(options, 1, "open or close", error);
    if (!plain)
        return std::nullopt;
    const std::string& action = (*plain)[0];
    if (action != "open" && action != "close") {
        error = "takes open or close, not " + QuotedArgument(action);
        return std::nullopt;
    }
    const bool open = action == "open";
    return Operation{protocol::ValveRequest(meter, open ? protocol::ValveAction::Open
                                                        : protocol::ValveAction::Close),
                     open ? "open the valve" : "close the valve"};
}

// set-time [--time now|YYYYMMDDhhmmss]

void PrintSetTimeHelp(std::ostream& out) {
    out << "usage: mbus set-time --port COM<n>|DEVICE [--time now|YYYYMMDDhhmmss]\n"
        << kOperationOptions
        << "\n"
           "Sets the meter's clock: sends the write request (control 0x04, identifier\n"
           "A0 15, data the seven BCD bytes ss mm hh DD MM YY YY, seconds first, as the\n"
           "clock field of the meter's replies) and waits for the meter to accept or refuse\n"
           "it.\n"
           "\n"
           "  --time now|YYYYMMDDhhmmss\n"
           "                        the time to set: this computer's local time when the\n"
           "                        request is built, or a moment as 14 digits; default now\n"
        << OperationOptionsHelp(kAddressUse);
}

std::optional<protocol::MeterClock> ClockOfText(const std::string& text) {
    if (text.size() != 14 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const auto part = [&text](std::size_t at, std::size_t size) {
        return std::stoi(text.substr(at, size));
    };
    const protocol::MeterClock clock{part(0, 4), part(4, 2),  part(6, 2),
                                     part(8, 2), part(10, 2), part(12, 2)};
    if (!protocol::IsValidClock(clock))
        return std::nullopt;
    return clock;
}

std::string ClockDigitsText(const protocol::MeterClock& clock) {
    const std::string digits = std::to_string(protocol::ClockDigits(clock));
    return std::string(14 - std::min<std::size_t>(digits.size(), 14), '0') + digits;
}

std::optional<Operation> SetTimeOperation(const OptionParser& options,
                                          const protocol::MeterTarget& meter, std::string& error) {
    const std::string text = options.Value("--time").value_or("now");
    protocol::MeterClock clock;
    if (text == "now") {
        const platform::LocalTime now = platform::LocalNow();
        clock = {now.Year, now.Month, now.Day, now.Hour, now.Minute, now.Second};
    } else if (const auto given = ClockOfText(text)) {
        clock = *given;
    } else {
        error = "option --time takes now or a moment YYYYMMDDhhmmss, not " + QuotedArgument(text);
        return std::nullopt;
    }
    return Operation{protocol::SetClockRequest(meter, clock),
                     "set the clock to " + ClockDigitsText(clock)};
}

// set-address NEW

void PrintSetAddressHelp(std::ostream& out) {
    out << "usage: mbus set-address NEW --port COM<n>|DEVICE\n"
        << kOperationOptions
        << "\n"
           "Gives the meter a new address: sends the write-address request (control 0x15,\n"
           "identifier A0 18, data the new address, least significant byte first) to the\n"
           "meter's current address (--addr), or to AA AA AA AA AA AA AA when it is the only\n"
           "meter on the line, and waits for the meter to accept (0x95) or refuse it. NEW is\n"
           "the new address, 14 hex digits as typed, most significant byte first. The meter\n"
           "answers at its new address from then on.\n"
           "\n"
        << OperationOptionsHelp("                        for the only meter on the line\n");
}

std::optional<Operation> SetAddressOperation(const OptionParser& options,
                                             const protocol::MeterTarget& meter,
                                             std::string& error) {
    const auto* plain = PlainArguments(options, 1, "the new address NEW", error);
    const auto typed = plain ? ParseMeterAddress((*plain)[0], error) : std::nullopt;
    if (!typed)
        return std::nullopt;
    protocol::LineAddress address;
    std::reverse_copy(typed->begin(), typed->end(), address.begin());
    if (std::all_of(address.begin(), address.end(),
                    [](std::uint8_t b) { return b == protocol::kWildcardByte; })) {
        error = "the new address cannot be AA AA AA AA AA AA AA, which every meter answers";
        return std::nullopt;
    }
    return Operation{protocol::WriteAddressRequest(meter, address),
                     "set the address to " + protocol::AddressText(address)};
}

// set-day settlement|reading N

void PrintSetDayHelp(std::ostream& out) {
    out << "usage: mbus set-day settlement|reading N --port COM<n>|DEVICE\n"
        << kOperationOptions
        << "\n"
           "Sets the meter's settlement day (identifier A0 11) or reading day (A0 12) to the\n"
           "day N of the month (1..31): sends the write request (control 0x04, data one BCD\n"
           "byte) and waits for the meter to accept or refuse it.\n"
           "\n"
        << OperationOptionsHelp(kAddressUse);
}

std::optional<Operation> SetDayOperation(const OptionParser& options,
                                         const protocol::MeterTarget& meter, std::string& error) {
    const auto* plain = PlainArguments(options, 2, "settlement or reading, then the day N", error);
    if (!plain)
        return std::nullopt;
    const std::string& which = (*plain)[0];
    if (which != "settlement" && which != "reading") {
        error = "takes settlement or reading, not " + QuotedArgument(which);
        return std::nullopt;
    }
    const auto day = util::TryStrToInt((*plain)[1]);
    if (!day || *day < 1 || *day > 31) {
        error = "the day must be a number from 1 to 31, not " + QuotedArgument((*plain)[1]);
        return std::nullopt;
    }
    const bool settlement = which == "settlement";
    return Operation{
        protocol::SetDayRequest(
            meter, settlement ? protocol::MeterDay::Settlement : protocol::MeterDay::Reading, *day),
        "set the " + which + " day to " + std::to_string(*day)};
}

// key-version

void PrintKeyVersionHelp(std::ostream& out) {
    out << "usage: mbus key-version --port COM<n>|DEVICE\n"
        << kOperationOptions
        << "\n"
           "Reads the version of the meter's key: sends the read-key-version request\n"
           "(control 0x09, identifier 81 06) and prints the byte the meter answers with\n"
           "(0x89), as\n"
           "  密钥版本:01;\n"
           "\n"
        << OperationOptionsHelp(kAddressUse);
}

std::optional<Operation> KeyVersionOperation(const OptionParser&,
                                             const protocol::MeterTarget& meter, std::string&) {
    return Operation{protocol::ReadKeyVersionRequest(meter), "read the key version"};
}

} // namespace

int RunValveCommand(CommandArgs args, CommandIo io) {
    return RunOperationCommand("valve", {}, args, io, PrintValveHelp, ValveOperation,
                               OptionParser::PlainArguments::Taken);
}

int RunSetTimeCommand(CommandArgs args, CommandIo io) {
    return RunOperationCommand("set-time", {"--time"}, args, io, PrintSetTimeHelp, SetTimeOperation,
                               OptionParser::PlainArguments::Refused);
}

int RunSetAddressCommand(CommandArgs args, CommandIo io) {
    return RunOperationCommand("set-address", {}, args, io, PrintSetAddressHelp,
                               SetAddressOperation, OptionParser::PlainArguments::Taken);
}

int RunSetDayCommand(CommandArgs args, CommandIo io) {
    return RunOperationCommand("set-day", {}, args, io, PrintSetDayHelp, SetDayOperation,
                               OptionParser::PlainArguments::Taken);
}

int RunKeyVersionCommand(CommandArgs args, CommandIo io) {
    return RunOperationCommand("key-version", {}, args, io, PrintKeyVersionHelp,
                               KeyVersionOperation, OptionParser::PlainArguments::Refused);
}

} // namespace mbus::tools

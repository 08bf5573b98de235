#include "tools/address_command.h"

#include "protocol/meter_type.h"
#include "protocol/parsed_reply.h"
#include "tools/json_text.h"
#include "tools/line_options.h"
#include "tools/meter_exchange.h"
#include "tools/option_parser.h"
#include "tools/reading_json.h"
#include "tools/request_options.h"
#include "tools/tool_port.h"
#include "util/string_c.h"

#include <ostream>

namespace mbus::tools {
namespace {

void PrintHelp(std::ostream& out) {
    out << "usage: mbus address --port COM<n>|DEVICE [--baud N] [--parity NAME] [--di TEXT]\n"
           "                    [--timeout MS] [--json]\n"
           "\n"
           "Asks the meter on the line for its address: sends the read-address request (the\n"
           "wildcard type and address AA, control 0x03, identifier 81 0A, sequence 00) and\n"
           "waits for the reply (control 0x83), whose header carries the meter's type and\n"
           "address. Prints the address as fourteen hex digits as typed (most significant byte\n"
           "first), the type code and the type's name, for example\n"
           "  00000000000001 0x10 冷水水表\n"
           "Only one meter may be on the line: several would answer at once.\n"
           "\n"
        << PortOptionsHelp()
        << "  --di TEXT             the identifier, two bytes in the order sent; default\n"
           "                        \"81 0A\" (some meters want \"0A 81\")\n"
           "  --timeout MS          how long to wait for the reply (1..3600000); default 2000\n"
           "  --json                print {\"address\": ..., \"type\": N, \"check\": {...}} "
           "instead,\n"
           "                        the check as in `mbus decode --json`\n"
           "\n"
           "Exit status: 0 a meter answered with a sound frame, 1 none answered within the\n"
           "time-out (or it refused, or its frame failed the check, or the run was\n"
           "interrupted), 2 bad option, or the port could not be opened or used, 3 the output\n"
           "could not be written.\n";
}

struct AddressSettings {
    std::string Port;
    LineSettings Line;
    protocol::DataIdentifier DataId = protocol::kReadAddressId;
    ReaderSession::Clock::duration Timeout = std::chrono::milliseconds(2000);
    bool Json = false;
};

bool ReadOptions(const OptionParser& options, AddressSettings& settings, std::string& error) {
    if (!ReadPortOptions(options, settings.Port, settings.Line, error))
        return false;
    if (const auto text = options.Value("--di")) {
        const auto id = ParseDataId(*text, error);
        if (!id)
            return false;
        settings.DataId = *id;
    }
    const auto timeout = MillisecondsOption(options, "--timeout", 1, 3600000, 2000, error);
    if (!timeout)
        return false;
    settings.Timeout = *timeout;
    settings.Json = options.Has("--json");
    return true;
}

std::string TypeText(std::uint8_t code) {
    return protocol::TypeCodeText(code) + " " +
           std::string(protocol::MeterTypeText(code).value_or("?"));
}

// Why no address came: interrupted, nothing at all, or bytes that held no read-address reply (a
// wrong baud rate or parity looks like that; a dead line does not).
std::string NoAnswerText(const Exchange& exchange, ReaderSession::Clock::duration timeout) {
    if (exchange.Interrupted)
        return "interrupted";
    if (std::string received = UnansweredBytesText(exchange, "read-address reply");
        !received.empty())
        return received;
    return "no meter answered within " + std::to_string(Milliseconds(timeout)) + " ms";
}

int Run(const AddressSettings& settings, CommandIo io) {
    ToolPort port("address");
    if (!port.Open(settings.Port, settings.Line, io.Err))
        return kExitUsage;
    protocol::ReadRequest request;
    request.Control = protocol::kControlReadAddress;
    request.TypeCode = protocol::kWildcardByte;
    request.Address.fill(protocol::kWildcardByte);
    request.DataId = settings.DataId;
    const auto exchange = ExchangeOnce(port, request, settings.Timeout, io.Err);
    if (!exchange)
        return kExitUsage;
    const std::optional<protocol::ParsedReply>& reply = exchange->Reply;
    if (!reply) {
        io.Err << "mbus address: " << NoAnswerText(*exchange, settings.Timeout) << "\n";
        return kExitIncomplete;
    }
    if (const std::string meters = AnsweringMetersText(*exchange); !meters.empty()) {
        // Every meter answers the wildcard address: the first answer names no particular meter.
        io.Err << "mbus address: more than one meter answered: " << meters << "\n";
        return kExitIncomplete;
    }
    if (reply->Kind != protocol::ReplyKind::ReadAddress) {
        io.Err << "mbus address: the meter refused the request"
               << (reply->ErrorStatus.empty()
                       ? std::string()
                       : ", status " + util::RemoveSpaces(util::BytesToHex(reply->ErrorStatus)))
               << "\n";
        return kExitIncomplete;
    }

    if (settings.Json) {
        io.Out << "{\"address\": " << JsonString(protocol::AddressText(*reply->Address))
               << ", \"type\": " << int(*reply->TypeCode)
               << ", \"check\": " << CheckJson(reply->Check) << "}" << std::endl;
    } else {
        io.Out << protocol::AddressText(*reply->Address) << " " << TypeText(*reply->TypeCode)
               << std::endl;
    }
    if (protocol::FirstFailure(reply->Check) != protocol::CheckFailure::None) {
        io.Err << "mbus address: the reply failed its frame check (start byte, checksum, end "
                  "byte or sequence number)\n";
        return kExitIncomplete;
    }
    return kExitOk;
}

} // namespace

int RunAddressCommand(CommandArgs args, CommandIo io) {
    return RunSubcommand<AddressSettings>(
        "address", OptionParser({"--port", "--baud", "--parity", "--di", "--timeout"}, {"--json"}),
        args, io, PrintHelp, ReadOptions, Run);
}

} // namespace mbus::tools

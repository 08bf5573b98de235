#include "tools/address_command.h"

#include "protocol/meter_type.h"
#include "protocol/parsed_reply.h"
#include "protocol/read_address.h"
#include "tools/json_text.h"
#include "tools/line_options.h"
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
           "time-out (or its frame failed the check, or the run was interrupted), 2 bad\n"
           "option, or the port could not be opened or used, 3 the output could not be\n"
           "written.\n";
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

int Run(const AddressSettings& settings, CommandIo io) {
    ToolPort port("address");
    const auto interrupted = [&] { return port.Interrupted(); };
    if (!port.Open(settings.Port, settings.Line, io.Err))
        return kExitUsage;
    const std::vector<std::uint8_t> bytes =
        protocol::BuildReadAddressRequest(protocol::kWildcardByte, settings.DataId);
    const auto request = protocol::ScanReadRequest(bytes).Request;
    const auto sentAt = port.Send(std::string(bytes.begin(), bytes.end()), io.Err);
    if (!sentAt)
        return kExitUsage;

    std::optional<protocol::ParsedReply> reply;
    while (!reply) {
        const auto frame = port.Session().NextFrame(*sentAt + settings.Timeout, interrupted);
        if (!frame)
            break;
        auto found = protocol::ParseReply(util::AsBytes(frame->Bytes), false);
        if (found && found->Kind == protocol::ReplyKind::ReadAddress)
            reply = std::move(found);
    }
    if (!reply) {
        io.Err << "mbus address: "
               << (interrupted() ? std::string("interrupted")
                                 : "no meter answered within " +
                                       std::to_string(Milliseconds(settings.Timeout)) + " ms")
               << "\n";
        return kExitIncomplete;
    }
    protocol::CompareWithRequest(*reply, *request);

    if (settings.Json) {
        io.Out << "{\"address\": " << JsonString(protocol::AddressText(*reply->Address))
               << ", \"type\": " << int(*reply->TypeCode)
               << ", \"check\": " << CheckJson(reply->Check) << "}" << std::endl;
    } else {
        io.Out << protocol::AddressText(*reply->Address) << " " << TypeText(*reply->TypeCode)
               << std::endl;
    }
    if (protocol::FirstFailure(reply->Check) != protocol::CheckFailure::None) {
        io.Err << "mbus address: the reply failed its frame check (start byte, checksum or end "
                  "byte)\n";
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

#include "tools/address_command.h"

#include "platform/interrupt_flag.h"
#include "protocol/meter_type.h"
#include "protocol/read_address.h"
#include "tools/json_text.h"
#include "tools/line_options.h"
#include "tools/option_parser.h"
#include "tools/port_failure.h"
#include "tools/port_target.h"
#include "tools/quoted_argument.h"
#include "tools/reader_session.h"
#include "tools/reading_json.h"
#include "tools/request_options.h"
#include "util/string_c.h"

#include <cstdio>
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
           "  --port COM<n>|DEVICE  the port, as for `mbus read`\n"
           "  --baud N              bits per second; default 2400\n"
           "  --parity NAME         none, odd, even, mark or space; default none\n"
           "  --di TEXT             the identifier, two bytes in the order sent; default\n"
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
    const auto timeout = NumberOption(options, "--timeout", 1, 3600000, 2000, error);
    if (!timeout)
        return false;
    settings.Timeout = std::chrono::milliseconds(*timeout);
    settings.Json = options.Has("--json");
    return true;
}

std::string TypeText(std::uint8_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", code);
    return std::string(text) + " " + std::string(protocol::MeterTypeText(code).value_or("?"));
}

int Run(const AddressSettings& settings, CommandIo io) {
    // A closed standard output fails the write instead of ending the program before it closes
    // the port and removes a COM link made for the run.
    const platform::InterruptFlag interrupt(platform::InterruptFlag::BrokenPipe::Stops);
    const auto interrupted = [&] { return interrupt.Raised(); };

    PortTarget target;
    std::string error;
    if (!target.Select(settings.Port, error)) {
        io.Err << "mbus address: " << error << "\n";
        return kExitUsage;
    }
    LineSettings line = settings.Line;
    line.ComNumber = target.ComNumber();
    const std::vector<std::uint8_t> bytes =
        protocol::BuildReadAddressRequest(protocol::kWildcardByte, settings.DataId);
    const auto request = protocol::ScanReadRequest(bytes).Request;

    std::optional<ReaderSession> session;
    ReaderSession::Clock::time_point sentAt;
    try {
        session.emplace(line);
        sentAt = session->Send(std::string(bytes.begin(), bytes.end()));
    } catch (const std::exception& e) {
        // Opening and the one send fail alike: the cause says which.
        io.Err << "mbus address: " << ShownText(settings.Port) << ": "
               << PortFailureText(e, session ? PortStep::Sending : PortStep::Opening) << "\n";
        return kExitUsage;
    }

    std::optional<protocol::AddressReply> reply;
    while (!reply) {
        const auto frame = session->NextFrame(sentAt + settings.Timeout, interrupted);
        if (!frame)
            break;
        reply = protocol::FindAddressReply(util::AsBytes(frame->Bytes), &*request);
    }
    if (!reply) {
        io.Err << "mbus address: "
               << (interrupted()
                       ? std::string("interrupted")
                       : "no meter answered within " +
                             std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                settings.Timeout)
                                                .count()) +
                             " ms")
               << "\n";
        return kExitIncomplete;
    }

    if (settings.Json) {
        io.Out << "{\"address\": " << JsonString(protocol::AddressText(reply->Address))
               << ", \"type\": " << int(reply->TypeCode)
               << ", \"check\": " << CheckJson(reply->Check) << "}" << std::endl;
    } else {
        io.Out << protocol::AddressText(reply->Address) << " " << TypeText(reply->TypeCode)
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
    OptionParser options({"--port", "--baud", "--parity", "--di", "--timeout"}, {"--json"});
    if (const auto done = options.Open("address", args, io, PrintHelp))
        return *done;
    AddressSettings settings;
    std::string error;
    return ReadOptions(options, settings, error) ? Run(settings, io)
                                                 : UsageError(io.Err, "address", error);
}

} // namespace mbus::tools

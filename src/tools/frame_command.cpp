#include "tools/frame_command.h"

#include "protocol/meter_type.h"
#include "protocol/read_frame.h"
#include "tools/option_parser.h"
#include "tools/request_options.h"
#include "util/string_c.h"

#include <ostream>

namespace mbus::tools {
namespace {

void PrintHelp(std::ostream& out) {
    out << "usage: mbus frame [--addr TEXT] [--type N|NAME] [--di TEXT]\n"
           "\n"
           "Prints the read-data request as spaced hex text (a blank after every byte), exactly\n"
           "as the console shows it in its command field, followed by a newline.\n"
           "\n"
           "  --addr TEXT   meter address, 14 hex digits as typed, most significant byte first\n"
           "                (blanks optional); default \"AA AA AA AA AA AA AA\"\n"
           "  --type N|NAME meter type by type list position or exact item text; default 0\n"
        << MeterTypeHelp()
        << "  --di TEXT     data identifier, two bytes in the order sent; default \"1F 90\"\n"
           "\n"
           "Exit status: 0 printed, 2 bad option, address or type.\n";
}

} // namespace

int RunFrameCommand(CommandArgs args, CommandIo io) {
    OptionParser options({"--addr", "--type", "--di"}, {});
    if (!options.Parse(args)) {
        io.Err << "mbus frame: " << options.Error() << "\n";
        return kExitUsage;
    }
    if (options.Has("--help")) {
        PrintHelp(io.Out);
        return kExitOk;
    }
    if (!options.Positional().empty()) {
        io.Err << "mbus frame: unexpected argument '" << options.Positional().front() << "'\n";
        return kExitUsage;
    }

    std::string error;
    const auto address =
        ParseMeterAddress(options.Value("--addr").value_or("AA AA AA AA AA AA AA"), error);
    const auto type =
        address ? ParseMeterType(options.Value("--type").value_or("0"), error) : std::nullopt;
    const auto dataId =
        type ? ParseDataId(options.Value("--di").value_or("1F 90"), error) : std::nullopt;
    if (!dataId) {
        io.Err << "mbus frame: " << error << "\n";
        return kExitUsage;
    }

    protocol::ReadFrameBuffer frame{};
    protocol::BuildReadFrame(frame, *address, *protocol::MeterTypeCode(*type),
                             protocol::kControlRead, *dataId);
    io.Out << util::BytesToHex(frame) << "\n";
    return kExitOk;
}

} // namespace mbus::tools

#include "tools/frame_command.h"

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
           "                (blanks optional); default \""
        << kDefaultAddress
        << "\"\n"
           "  --type N|NAME meter type by type list position or exact item text; default "
        << kDefaultType << "\n"
        << MeterTypeHelp()
        << "  --di TEXT     data identifier, two bytes in the order sent; default \""
        << kDefaultDataId
        << "\"\n"
           "\n"
           "Exit status: 0 printed, 2 bad option, address or type, 3 the output could not be\n"
           "written.\n";
}

} // namespace

int RunFrameCommand(CommandArgs args, CommandIo io) {
    OptionParser options({"--addr", "--type", "--di"}, {});
    if (const auto done = options.Open("frame", args, io, PrintHelp))
        return *done;

    std::string error;
    const auto frame = RequestOfOptions(options, error);
    if (!frame)
        return UsageError(io.Err, "frame", error);
    io.Out << util::BytesToHex(*frame) << "\n";
    return kExitOk;
}

} // namespace mbus::tools

#include "tools/subcommands.h"

#include "tools/address_command.h"
#include "tools/decode_command.h"
#include "tools/frame_command.h"
#include "tools/operation_commands.h"
#include "tools/ports_command.h"
#include "tools/quoted_argument.h"
#include "tools/read_command.h"
#include "tools/sim_command.h"
#include "util/version.h"

#include <ostream>
#include <string_view>

namespace mbus::tools {
namespace {

struct Subcommand {
    std::string_view Name;
    std::string_view Summary;
    int (*Run)(CommandArgs, CommandIo);
};

constexpr Subcommand kSubcommands[] = {
    {"frame", "print the read-data request for an address, meter type and identifier",
     RunFrameCommand},
    {"decode", "decode received chunks given as hex text", RunDecodeCommand},
    {"read", "send requests through a serial port and decode the replies", RunReadCommand},
    {"address", "ask the meter on the line for its address and type", RunAddressCommand},
    {"valve", "open or close the valve of a meter", RunValveCommand},
    {"set-time", "set the clock of a meter", RunSetTimeCommand},
    {"set-address", "give a meter a new address", RunSetAddressCommand},
    {"set-day", "set the settlement or reading day of a meter", RunSetDayCommand},
    {"key-version", "read the key version of a meter", RunKeyVersionCommand},
    {"ports", "list the serial ports and the device behind each COM name", RunPortsCommand},
    {"sim", "run a simulated meter on a pseudo-terminal registered as a COM port", RunSimCommand},
};

void PrintHelp(std::ostream& out) {
    out << "usage: mbus <command> [options]\n"
           "\n"
           "Tools of the M-Bus meter test console: build read-data requests and decode meter\n"
           "replies of the household meter protocol, read meters and run the operations of a\n"
           "meter at the bench (valve, clock, address, days, key version).\n"
           "\n"
           "Commands:\n";
    constexpr std::size_t kNameColumn = 13;
    for (const Subcommand& command : kSubcommands)
        out << "  " << command.Name << std::string(kNameColumn - command.Name.size(), ' ')
            << command.Summary << "\n";
    out << "\n"
           "Options:\n"
           "  -h, --help  print this help\n"
           "  --version   print the version\n"
           "\n"
           "Run 'mbus <command> --help' for the options of a command.\n";
}

} // namespace

int RunMbus(CommandArgs args, CommandIo io) {
    if (args.empty()) {
        PrintHelp(io.Err);
        return kExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintHelp(io.Out);
        return kExitOk;
    }
    if (args[0] == "--version") {
        io.Out << "mbus " << util::kVersion << "\n";
        return kExitOk;
    }
    for (const Subcommand& command : kSubcommands) {
        if (args[0] == command.Name)
            return command.Run(args.subspan(1), io);
    }
    io.Err << "mbus: unknown command " << QuotedArgument(args[0]) << "; run 'mbus --help'\n";
    return kExitUsage;
}

} // namespace mbus::tools

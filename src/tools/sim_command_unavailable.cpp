// `mbus sim` where there are no pseudo-terminals (Windows): the simulated meter is not built.
// The command still takes its options as everywhere and then says so.
#include "tools/option_parser.h"
#include "tools/sim_command.h"

#include <ostream>

namespace mbus::tools {
namespace {

void PrintHelp(std::ostream& out) {
    out << kSimSynopsis
        << "\n"
           "Runs a simulated household meter on a pseudo-terminal. The simulated meter runs on\n"
           "Linux only: run it there and read it from here through a serial line.\n";
}

} // namespace

int RunSimCommand(CommandArgs args, CommandIo io) {
    OptionParser options(kSimValueOptions, kSimFlags);
    if (const auto done = options.Open("sim", args, io, PrintHelp))
        return *done;
    io.Err << "mbus sim: the simulated meter runs on Linux only\n";
    return kExitUsage;
}

} // namespace mbus::tools

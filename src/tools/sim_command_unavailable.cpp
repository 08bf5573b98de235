// `mbus sim` where there are no pseudo-terminals (Windows): the simulated meter is not built, and
// the command says so.
#include "tools/sim_command.h"

#include <ostream>

namespace mbus::tools {

int RunSimCommand(CommandArgs /*args*/, CommandIo io) {
    io.Err << "mbus sim: the simulated meter needs a pseudo-terminal and runs on Linux only; run\n"
              "it there and read it from here through a serial line\n";
    return kExitUsage;
}

} // namespace mbus::tools

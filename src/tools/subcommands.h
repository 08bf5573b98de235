// The table of `mbus` subcommands and the top-level dispatch with its help text.
#pragma once

#include "tools/command_io.h"

namespace mbus::tools {

// Runs `mbus <command> [args...]`; the first argument names the subcommand.
int RunMbus(CommandArgs args, CommandIo io);

} // namespace mbus::tools

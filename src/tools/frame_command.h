// `mbus frame`: prints the read-data request the console would put into its command field.
#pragma once

#include "tools/command_io.h"

namespace mbus::tools {

int RunFrameCommand(CommandArgs args, CommandIo io);

} // namespace mbus::tools

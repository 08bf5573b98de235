// `mbus ports`: lists the serial ports the console and `mbus read` can open, with the device
// each COM name stands for.
#pragma once

#include "tools/command_io.h"

namespace mbus::tools {

int RunPortsCommand(CommandArgs args, CommandIo io);

} // namespace mbus::tools

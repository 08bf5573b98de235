// `mbus address`: asks the meter on the line for its address with the read-address request and
// prints the address and type it answers with.
#pragma once

#include "tools/command_io.h"

namespace mbus::tools {

int RunAddressCommand(CommandArgs args, CommandIo io);

} // namespace mbus::tools

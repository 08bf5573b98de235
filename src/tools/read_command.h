// `mbus read`: the console's road of a request and its reply without a window. It sends the
// request through the port component, frames what comes back by the console's quiet-gap rule,
// shows each frame as the traffic view does and decodes it as the decode view does.
#pragma once

#include "tools/command_io.h"

namespace mbus::tools {

int RunReadCommand(CommandArgs args, CommandIo io);

} // namespace mbus::tools

// `mbus decode`: decodes received chunks given as hex text, one per argument or input line.
#pragma once

#include <string>
#include <string_view>

#include "tools/command_io.h"

namespace mbus::tools {

int RunDecodeCommand(CommandArgs args, CommandIo io);

// The output line for one chunk of hex text (plain decoded text or a JSON object, without the
// newline); `decoded` tells whether a reply was decoded.
std::string DecodeChunkLine(std::string_view hexText, bool json, bool& decoded);

} // namespace mbus::tools

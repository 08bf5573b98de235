// The `mbus` subcommands that run one operation on a meter, one request and its answer each:
// `valve open|close`, `set-time`, `set-address NEW`, `set-day settlement|reading N` and
// `key-version`. They share the options of the meter and the line (`--port --baud --parity
// --addr --type --di-order --timeout --json`), the exchange (meter_exchange.h) and its report
// (exchange_report.h).
#pragma once

#include "tools/command_io.h"

namespace mbus::tools {

int RunValveCommand(CommandArgs args, CommandIo io);
int RunSetTimeCommand(CommandArgs args, CommandIo io);
int RunSetAddressCommand(CommandArgs args, CommandIo io);
int RunSetDayCommand(CommandArgs args, CommandIo io);
int RunKeyVersionCommand(CommandArgs args, CommandIo io);

} // namespace mbus::tools

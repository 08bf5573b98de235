// Options of the `mbus` subcommands that talk through a serial port (`read`, `address`): whole
// numbers within a range by the console's integer conversion, and the port with its line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "serial/com_port.h"
#include "tools/reader_session.h"

namespace mbus::tools {

class OptionParser;

// A whole number within [low, high] of the option, by the console's integer conversion; the
// default when the option is absent; none with `error` set when it is out of range or no number.
std::optional<std::int32_t> NumberOption(const OptionParser& options, const char* name,
                                         std::int32_t low, std::int32_t high, std::int32_t fallback,
                                         std::string& error);

// A time in milliseconds within [low, high] ms, as NumberOption reads it.
std::optional<std::chrono::milliseconds>
MillisecondsOption(const OptionParser& options, const char* name, std::int32_t low,
                   std::int32_t high, std::int32_t fallback, std::string& error);

// Whole milliseconds of a duration, as messages and reports give them.
std::int64_t Milliseconds(std::chrono::steady_clock::duration duration);

// The help lines of --port, --baud and --parity.
std::string PortOptionsHelp();

// The line settings --baud (2400 when absent) and --parity by name ("none", "odd", "even", "mark"
// or "space"; "none" when absent). False with `error` set for the first one that is wrong.
bool ReadLineOptions(const OptionParser& options, LineSettings& line, std::string& error);

// The port and line every such subcommand takes: --port (required), --parity by name ("none",
// "odd", "even", "mark" or "space"; "none" when absent) and --baud (2400 when absent). False with
// `error` set for the first option that is missing or wrong.
bool ReadPortOptions(const OptionParser& options, std::string& port, LineSettings& line,
                     std::string& error);

} // namespace mbus::tools

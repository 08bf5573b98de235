// The program's arguments as UTF-8 text on every system: Windows hands main() its arguments in
// the ANSI code page, which loses what it cannot hold (the meter types' Chinese names), so the
// Windows backend takes them from the system's UTF-16 command line instead.
#pragma once

#include <string>
#include <vector>

namespace mbus::platform {

// The arguments after the program's name.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

} // namespace mbus::platform

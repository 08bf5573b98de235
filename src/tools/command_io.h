// What a subcommand of the `mbus` tool works with: its arguments and its three streams, so the
// commands run the same from main() and from tests.
#pragma once

#include <iosfwd>
#include <span>
#include <string>

namespace mbus::tools {

struct CommandIo {
    std::istream& In;
    std::ostream& Out;
    std::ostream& Err;
};

using CommandArgs = std::span<const std::string>;

// Exit statuses shared by the subcommands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitIncomplete = 1; // the command ran, but not everything succeeded
inline constexpr int kExitUsage = 2;      // bad arguments or input the command cannot use
inline constexpr int kExitOutput = 3;     // the output could not be written (full, closed)

} // namespace mbus::tools

// The `mbus` command-line tool: the console's protocol and serial machinery without a window.
#include "platform/command_line.h"
#include "platform/standard_streams.h"
#include "tools/subcommands.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    mbus::platform::UseBinaryStandardStreams(); // the same bytes on every system
    // Standard input and output as streams of their own, not through C's: a failed read of
    // standard input then shows as a failed stream, as a failed write does.
    std::ios::sync_with_stdio(false);
    // Output that nobody takes (a pipe nobody reads, a closed pipe) neither holds the program
    // against a termination request nor ends it with SIGPIPE: the write fails instead.
    const mbus::platform::StandardOutputStreams outputStreams;
    const std::vector<std::string> args = mbus::platform::CommandLineArguments(argc, argv);
    mbus::tools::CommandIo io{std::cin, std::cout, std::cerr};
    int status = mbus::tools::kExitUsage;
    try {
        status = mbus::tools::RunMbus(args, io);
    } catch (const std::exception& e) {
        std::cerr << "mbus: " << e.what() << "\n";
    }
    // Output that did not reach its destination (a full disk, a closed pipe) is no success; a
    // reader that has gone (`mbus … | head -1`) needs no word.
    if (!std::cout.flush() && status != mbus::tools::kExitOutput) {
        if (!mbus::platform::StandardOutputReaderGone())
            std::cerr << "mbus: cannot write the output\n";
        return mbus::tools::kExitOutput;
    }
    return status;
}

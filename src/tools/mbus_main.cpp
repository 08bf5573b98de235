// The `mbus` command-line tool: the console's protocol and serial machinery without a window.
#include "platform/command_line.h"
#include "platform/standard_streams.h"
#include "tools/subcommands.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    mbus::platform::UseBinaryStandardStreams(); // the same bytes on every system
    const std::vector<std::string> args = mbus::platform::CommandLineArguments(argc, argv);
    mbus::tools::CommandIo io{std::cin, std::cout, std::cerr};
    try {
        return mbus::tools::RunMbus(args, io);
    } catch (const std::exception& e) {
        std::cerr << "mbus: " << e.what() << "\n";
        return mbus::tools::kExitUsage;
    }
}

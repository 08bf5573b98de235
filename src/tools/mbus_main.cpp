// The `mbus` command-line tool: the console's protocol and serial machinery without a window.
#include "tools/subcommands.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    mbus::tools::CommandIo io{std::cin, std::cout, std::cerr};
    try {
        return mbus::tools::RunMbus(args, io);
    } catch (const std::exception& e) {
        std::cerr << "mbus: " << e.what() << "\n";
        return mbus::tools::kExitUsage;
    }
}

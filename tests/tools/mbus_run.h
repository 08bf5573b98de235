// `mbus` run in the test's own process through RunMbus, with string streams for its standard
// input, output and error.
#pragma once

#include <string>
#include <vector>

namespace mbus::tools {

struct MbusRun {
    int Status;
    std::string Out;
    std::string Err;

    // The lines of standard output, without their line breaks.
    std::vector<std::string> OutLines() const;
};

MbusRun RunMbusHere(const std::vector<std::string>& args, const std::string& input = "");

} // namespace mbus::tools

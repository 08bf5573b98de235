#include "mbus_run.h"

#include "tools/subcommands.h"

#include <sstream>

namespace mbus::tools {

std::vector<std::string> MbusRun::OutLines() const {
    std::vector<std::string> lines;
    std::istringstream text(Out);
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

MbusRun RunMbusHere(const std::vector<std::string>& args, const std::string& input) {
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunMbus(args, CommandIo{in, out, err});
    return {status, out.str(), err.str()};
}

} // namespace mbus::tools

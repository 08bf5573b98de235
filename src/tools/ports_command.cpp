#include "tools/ports_command.h"

#include "platform/port_map.h"
#include "tools/json_text.h"
#include "tools/option_parser.h"

#include <ostream>

namespace mbus::tools {
namespace {

void PrintHelp(std::ostream& out) {
    out << "usage: mbus ports [--json]\n"
           "\n"
           "Lists the serial ports by COM number, one per line: the COM name, the device it\n"
           "stands for, and \"link\" or \"discovered\" for how it got its number.\n"
           "\n"
        << platform::PortMapRule()
        << "\n"
           "  --json   print one JSON object per port instead:\n"
           "           {\"name\": \"COM3\", \"device\": ..., \"explicit\": true|false}\n"
           "\n"
           "Exit status: 0 listed (also when there is no port), 2 bad option.\n";
}

} // namespace

int RunPortsCommand(CommandArgs args, CommandIo io) {
    OptionParser options({}, {"--json"});
    if (const auto done = options.Open("ports", args, io, PrintHelp))
        return *done;

    const std::vector<platform::PortMapEntry> map = platform::ReadPortMap();
    if (map.empty() && !options.Has("--json"))
        io.Err << "mbus ports: no serial port (ports folder " << platform::PortsDirectory()
               << ")\n";
    for (const platform::PortMapEntry& entry : map) {
        const std::string name = "COM" + std::to_string(entry.Number);
        if (options.Has("--json")) {
            io.Out << "{\"name\": " << JsonString(name)
                   << ", \"device\": " << JsonString(entry.DevicePath)
                   << ", \"explicit\": " << (entry.Explicit ? "true" : "false") << "}\n";
        } else {
            io.Out << name << std::string(name.size() < 8 ? 8 - name.size() : 1, ' ')
                   << entry.DevicePath << "  " << (entry.Explicit ? "link" : "discovered") << "\n";
        }
    }
    io.Out.flush();
    return kExitOk;
}

} // namespace mbus::tools

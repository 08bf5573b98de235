#include "tools/ports_command.h"

#include "platform/port_map.h"
#include "tools/json_text.h"
#include "tools/option_parser.h"
#include "tools/quoted_argument.h"

#include <ostream>

namespace mbus::tools {
namespace {

// Device paths in the list and in notes are shown whole, escaped.
constexpr std::size_t kShownNoteCharacters = 1024;

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
           "Exit status: 0 listed (also when there is no port), 2 bad option, 3 the output\n"
           "could not be written.\n";
}

} // namespace

int RunPortsCommand(CommandArgs args, CommandIo io) {
    OptionParser options({}, {"--json"});
    if (const auto done = options.Open("ports", args, io, PrintHelp))
        return *done;

    platform::PortMapNotes notes;
    const std::vector<platform::PortMapEntry> map = platform::ReadPortMap(&notes);
    // The ports folder's own problem is said once by the map itself.
    for (const platform::PortMapNotes::LeftOut& leftOut : notes.LeftOutEntries)
        io.Err << "mbus ports: left out: " << ShownText(leftOut.Reason, kShownNoteCharacters)
               << "\n";
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
                   << ShownText(entry.DevicePath, kShownNoteCharacters) << "  "
                   << (entry.Explicit ? "link" : "discovered") << "\n";
        }
    }
    io.Out.flush();
    return kExitOk;
}

} // namespace mbus::tools

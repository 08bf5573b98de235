#include "platform/port_map.h"

#include "platform/registry.h"

#include <algorithm>

namespace mbus::platform {
namespace {

constexpr std::string_view kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

} // namespace

std::string PortsDirectory() {
    return "HKEY_LOCAL_MACHINE\\" + std::string(kSerialCommKey);
}

std::string PortMapRule() {
    return "Windows names the ports itself: every value of the registry key below is one\n"
           "port, its name the system's device and its data the COM name. Drivers add their\n"
           "ports there when the device appears (a USB converter plugged in) and remove them\n"
           "when it goes.\n"
           "\n"
           "Registry key: " +
           PortsDirectory() + "\n";
}

std::vector<PortMapEntry> ReadPortMap(PortMapNotes* notes) {
    if (notes)
        *notes = {}; // the system's list leaves nothing out
    std::vector<PortMapEntry> map;
    HKEY key = 0;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) != 0)
        return map; // no port yet: the key is made with the first one
    for (std::uint32_t index = 0;; ++index) {
        char name[256];
        std::uint8_t data[256];
        std::uint32_t nameLength = sizeof name;
        std::uint32_t dataLength = sizeof data - 1;
        std::uint32_t type = 0;
        const std::int32_t status =
            RegEnumValue(key, index, name, &nameLength, &type, data, &dataLength);
        if (status != 0)
            break; // no more values (or one too long to be a port's)
        if (type != REG_SZ)
            continue;
        data[std::min<std::uint32_t>(dataLength, sizeof data - 1)] = 0;
        const std::string comName(reinterpret_cast<const char*>(data));
        if (const auto number = ComNumberOfName(comName))
            map.push_back({*number, std::string(name, nameLength), false});
    }
    RegCloseKey(key);
    std::sort(map.begin(), map.end(),
              [](const PortMapEntry& a, const PortMapEntry& b) { return a.Number < b.Number; });
    return map;
}

std::vector<std::string> PortMapFolders() {
    return {}; // the system keeps the list in the registry
}

bool NoPortListIsAnError() {
    return true; // the key is made with the first port; without it the list cannot be opened
}

std::optional<int> MappedComNumber(const std::string& /*devicePath*/) {
    return std::nullopt; // ports have COM names only
}

} // namespace mbus::platform

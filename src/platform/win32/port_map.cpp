#include "platform/port_map.h"

#include "platform/registry.h"

#include <algorithm>
#include <charconv>

namespace mbus::platform {
namespace {

constexpr std::string_view kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr int kHighestComNumber = 65535; // the port component keeps the number in 16 bits

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [&](char x, char y) { return lower(x) == lower(y); });
}

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

std::optional<int> ComNumberOfName(std::string_view name) {
    if (name.starts_with("\\\\.\\"))
        name.remove_prefix(4);
    if (name.size() < 4 || !StartsWithIgnoringCase(name, "COM"))
        return std::nullopt;
    const std::string_view digits = name.substr(3);
    if (digits.front() < '1' || digits.front() > '9') // no sign, no leading zero, not COM0
        return std::nullopt;
    int value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || value > kHighestComNumber)
        return std::nullopt;
    return value;
}

bool LooksLikeComName(std::string_view name) {
    return name.starts_with("\\\\.\\") ||
           (name.find('/') == std::string_view::npos && StartsWithIgnoringCase(name, "COM"));
}

std::optional<int> MappedComNumber(const std::string& /*devicePath*/) {
    return std::nullopt; // ports have COM names only
}

} // namespace mbus::platform

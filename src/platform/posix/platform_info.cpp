#include "platform/platform_info.h"

#include <fstream>
#include <sys/utsname.h>

namespace mbus::platform {
namespace {

// PRETTY_NAME of /etc/os-release ("Debian GNU/Linux 12 (bookworm)"), or empty.
std::string DistributionName() {
    std::ifstream release("/etc/os-release");
    std::string line;
    while (std::getline(release, line)) {
        constexpr std::string_view kKey = "PRETTY_NAME=";
        if (line.rfind(kKey, 0) != 0)
            continue;
        std::string value = line.substr(kKey.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return {};
}

} // namespace

bool IsNtFamily() {
    return true;
}

std::string SystemDescription() {
    utsname name{};
    if (uname(&name) != 0)
        return "Linux";
    std::string text = std::string(name.sysname) + " " + name.release + " " + name.machine;
    if (const std::string distribution = DistributionName(); !distribution.empty())
        text += " (" + distribution + ")";
    return text;
}

std::string CompilerDescription() {
#if defined(__clang__)
    std::string version = __clang_version__;
    const std::string name = "Clang ";
#elif defined(__GNUC__)
    std::string version = __VERSION__;
    const std::string name = "GCC ";
#else
    std::string version = "unknown";
    const std::string name = "C++ compiler ";
#endif
    while (!version.empty() && version.back() == ' ')
        version.pop_back();
    return name + version;
}

} // namespace mbus::platform

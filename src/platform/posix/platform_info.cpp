#include "platform/platform_info.h"

namespace mbus::platform {

bool IsNtFamily() {
    return true;
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

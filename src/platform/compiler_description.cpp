// The tool chain that built the program, from its own predefined macros: the same on every backend.
#include "platform/platform_info.h"

#include <string>

namespace mbus::platform {

std::string CompilerDescription() {
#if defined(__clang__)
    std::string version = __clang_version__;
    const std::string name = "Clang ";
#elif defined(__GNUC__)
    std::string version = __VERSION__;
    const std::string name = "GCC ";
#elif defined(_MSC_VER)
    std::string version = std::to_string(_MSC_FULL_VER);
    const std::string name = "MSVC ";
#else
    std::string version = "unknown";
    const std::string name = "C++ compiler ";
#endif
    while (!version.empty() && version.back() == ' ')
        version.pop_back();
    return name + version;
}

} // namespace mbus::platform

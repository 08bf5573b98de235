#include "platform/platform_info.h"

#include "platform/win32/windows_api.h"

namespace mbus::platform {
namespace {

// The version the kernel reports (GetVersionEx reports what the program's manifest asks for).
OSVERSIONINFOW KernelVersion() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    if (const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
        const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
            reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
        if (rtlGetVersion != nullptr)
            rtlGetVersion(&version);
    }
    return version;
}

} // namespace

bool IsNtFamily() {
    return KernelVersion().dwPlatformId == VER_PLATFORM_WIN32_NT;
}

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

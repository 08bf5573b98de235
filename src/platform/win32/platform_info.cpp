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

// "Wine 8.0" when the program runs under Wine, which says so through an export of its ntdll.
std::string WineVersion() {
    using WineGetVersionFunction = const char*(CDECL*)();
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr)
        return {};
    const auto wineGetVersion = reinterpret_cast<WineGetVersionFunction>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version")));
    return wineGetVersion != nullptr ? std::string("Wine ") + wineGetVersion() : std::string();
}

std::string MachineName() {
    SYSTEM_INFO info{};
    ::GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        return "x86_64";
    case PROCESSOR_ARCHITECTURE_ARM64:
        return "arm64";
    case PROCESSOR_ARCHITECTURE_INTEL:
        return "x86";
    default:
        return "unknown";
    }
}

} // namespace

bool IsNtFamily() {
    return KernelVersion().dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::string SystemDescription() {
    const OSVERSIONINFOW version = KernelVersion();
    std::string text = "Windows " + std::to_string(version.dwMajorVersion) + "." +
                       std::to_string(version.dwMinorVersion) + "." +
                       std::to_string(version.dwBuildNumber) + " " + MachineName();
    if (const std::string wine = WineVersion(); !wine.empty())
        text += " (" + wine + ")";
    return text;
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

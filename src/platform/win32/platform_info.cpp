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

} // namespace mbus::platform

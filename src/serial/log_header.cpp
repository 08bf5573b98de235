#include "serial/log_header.h"

namespace mbus::serial {
namespace {

// The service text's second character, blanks trimmed away (" B " marks the second release).
char ServiceMark(const std::string& servicePack) {
    return servicePack.size() >= 2 && servicePack[1] != ' ' ? servicePack[1] : 0;
}

// The NT family's names by major and minor version; kAnyMinor stands for every minor version.
constexpr std::uint32_t kAnyMinor = ~0u;
struct NtRelease {
    std::uint32_t Major;
    std::uint32_t Minor;
    const char* Name;
};
constexpr NtRelease kNtReleases[] = {
    {2, 6, "Window CE "},
    {3, kAnyMinor, "Windows NT 3.5 "},
    {4, kAnyMinor, "Windows NT 4 "},
    {5, 0, "Windows 2000 "},
    {5, 1, "Windows XP "},
    {5, 2, "Windows 2003 "},
    {6, 0, "Windows Vista "},
    {6, 1, "Windows 7 "},
};

std::string NtName(const OsVersionInfo& info) {
    for (const NtRelease& release : kNtReleases) {
        if (release.Major == info.Major &&
            (release.Minor == kAnyMinor || release.Minor == info.Minor))
            return release.Name;
    }
    return "WinNT ";
}

std::string ConsumerName(const OsVersionInfo& info) {
    const char mark = ServiceMark(info.ServicePack);
    switch (info.Minor) {
    case 0:
        return mark == 'B' ? "Win32 on Windows 95 OSR 2 " : "Win32 on Windows 95 OSR 1 ";
    case 10:
        return mark == 'A' ? "Win32 on Windows 98 OSR 2 " : "Win32 on Windows 98 OSR 1 ";
    case 90:
        if (info.Build == 73010104)
            return "Win32 on Windows ME ";
        return "Win32 on Windows 9x";
    default:
        return "Win32 on Windows 9x";
    }
}

} // namespace

std::string LogSystemDescription(const OsVersionInfo& info) {
    std::string name;
    bool withServicePack = false;
    switch (info.PlatformId) {
    case OsVersionInfo::Win32s:
        name = "Win32s on Windows ";
        withServicePack = true;
        break;
    case OsVersionInfo::Windows9x:
        name = ConsumerName(info);
        break;
    case OsVersionInfo::WindowsNT:
        name = NtName(info);
        withServicePack = true;
        break;
    case OsVersionInfo::Other:
        return "Unknown";
    }
    std::string line = name + std::to_string(info.Major) + "." + std::to_string(info.Minor) + " ";
    if (withServicePack)
        line += info.ServicePack;
    return line;
}

OsVersionInfo CurrentOsVersion() {
    return {};
}

} // namespace mbus::serial

#include "serial/log_header.h"

namespace mbus::serial {
namespace {

// The service text's second character, blanks trimmed away (" B " marks the second release).
char ServiceMark(const std::string& servicePack) {
    return servicePack.size() >= 2 && servicePack[1] != ' ' ? servicePack[1] : 0;
}

std::string NtName(const OsVersionInfo& info) {
    switch (info.Major) {
    case 2:
        return info.Minor == 6 ? "Window CE " : "WinNT ";
    case 3:
        return "Windows NT 3.5 ";
    case 4:
        return "Windows NT 4 ";
    case 5:
        if (info.Minor == 0)
            return "Windows 2000 ";
        if (info.Minor == 1)
            return "Windows XP ";
        if (info.Minor == 2)
            return "Windows 2003 ";
        return "WinNT ";
    case 6:
        if (info.Minor == 0)
            return "Windows Vista ";
        if (info.Minor == 1)
            return "Windows 7 ";
        return "WinNT ";
    default:
        return "WinNT ";
    }
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

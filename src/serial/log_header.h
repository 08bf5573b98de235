// The system description line of the dispatch log's header, named from the platform's version
// information by the same rule on every platform.
#pragma once

#include <cstdint>
#include <string>

namespace mbus::serial {

struct OsVersionInfo {
    enum Platform { Win32s, Windows9x, WindowsNT, Other };
    Platform PlatformId = Other;
    std::uint32_t Major = 0;
    std::uint32_t Minor = 0;
    std::uint32_t Build = 0;
    std::string ServicePack;
};

// "Windows XP 5.1 Service Pack 2" style; "Unknown" for a platform outside the three families.
std::string LogSystemDescription(const OsVersionInfo& info);

// The version information of the platform the program runs on (Other on Linux).
OsVersionInfo CurrentOsVersion();

} // namespace mbus::serial

#include "support/temp_config_home.h"

#include "support/test_platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace mbus::testing {
namespace {

constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// No port listed at all: the key goes with its values (it has no subkeys). No setting stored:
// the console keeps them in %LOCALAPPDATA%\mbus-console (Qt's configuration folder there).
void Reset() {
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSerialCommKey);
    if (const wchar_t* appData = ::_wgetenv(L"LOCALAPPDATA")) {
        std::error_code ec;
        std::filesystem::remove_all(std::filesystem::path(appData) / L"mbus-console", ec);
    }
}

} // namespace

TempConfigHome::TempConfigHome() {
    if (!RunsUnderWine())
        throw std::runtime_error("these tests register ports in the registry: they run under Wine "
                                 "only, in a throw-away prefix");
    Reset();
}

TempConfigHome::~TempConfigHome() {
    Reset();
}

std::string TempConfigHome::AddFakePort(int number) {
    const std::string device = "\\Device\\MbusTest" + std::to_string(number);
    const std::string comName = "COM" + std::to_string(number);
    // The key is volatile, as the system makes it: it lives until the system (the wineserver)
    // ends.
    HKEY key = nullptr;
    LONG status = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, nullptr,
                                    REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = ::RegSetValueExA(key, device.c_str(), 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(comName.c_str()),
                                  static_cast<DWORD>(comName.size() + 1));
        ::RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS)
        throw std::runtime_error("cannot register " + comName + ": error " +
                                 std::to_string(status));
    return device;
}

} // namespace mbus::testing

// Registers a serial port the way a Windows driver does when a converter is plugged in: a value
// of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (a volatile key, made with the first port), its name the
// system's device and its data the COM name. Wine registers only the ports it found itself.
//
//   register_port add <device name> <COM name>
//   register_port remove <device name>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const bool add = argc == 4 && std::strcmp(argv[1], "add") == 0;
    const bool remove = argc == 3 && std::strcmp(argv[1], "remove") == 0;
    if (!add && !remove) {
        std::fprintf(stderr, "usage: register_port add DEVICE COMn | remove DEVICE\n");
        return 2;
    }
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                                  REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status =
            add ? RegSetValueExA(key, argv[2], 0, REG_SZ, reinterpret_cast<const BYTE*>(argv[3]),
                                 static_cast<DWORD>(std::strlen(argv[3]) + 1))
                : RegDeleteValueA(key, argv[2]);
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "register_port: error %ld\n", status);
        return 1;
    }
    return 0;
}

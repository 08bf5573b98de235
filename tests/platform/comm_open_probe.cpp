// Opens a serial device through the comm device in a process of its own, for the tests that
// check exclusive opens across processes. Prints the open's error number (0 when it opened) on
// one line; with "--hold" it keeps the device open until its standard input ends.
#include "platform/comm_device.h"
#include "platform/system_error.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    using namespace mbus::platform;
    const CommHandle handle = CreateFile(argv[1]);
    std::printf("%u\n", handle == INVALID_HANDLE_VALUE ? LastError() : 0u);
    std::fflush(stdout);
    if (handle == INVALID_HANDLE_VALUE)
        return 1;
    if (argc > 2 && std::strcmp(argv[2], "--hold") == 0) {
        while (std::getchar() != EOF) {
        }
    }
    CloseHandle(handle);
    return 0;
}

// Loaded into the Wine processes of the Windows tests (LD_PRELOAD): answers the modem-line
// ioctls TIOCMGET, TIOCMSET, TIOCMBIS and TIOCMBIC on pseudo-terminals, which have no modem
// lines and refuse them with ENOTTY. Wine's serial driver asks for the lines before every comm
// event wait and for DTR and RTS escapes, and fails those calls when the ioctl fails. Here each
// pseudo-terminal keeps the DTR and RTS bits last set and reports them back, with no input line
// (CTS, DSR, RI, CD) ever on, as a pseudo-terminal behaves under the Linux build. Every other
// call, and these calls on any other device, go to the C library unchanged.
#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);

IoctlFunction RealIoctl() {
    static const auto real = reinterpret_cast<IoctlFunction>(::dlsym(RTLD_NEXT, "ioctl"));
    return real;
}

// Unix 98 pseudo-terminal slaves have majors 136..143.
bool IsPseudoTerminal(int fd, dev_t& device) {
    struct stat node {};
    if (::fstat(fd, &node) != 0 || !S_ISCHR(node.st_mode))
        return false;
    device = node.st_rdev;
    return major(device) >= 136 && major(device) <= 143;
}

// The output lines (TIOCM_DTR, TIOCM_RTS) each pseudo-terminal was last given.
std::mutex LinesLock;
std::map<dev_t, int>& Lines() {
    static std::map<dev_t, int> lines;
    return lines;
}

int EmulateModemLines(dev_t device, unsigned long request, int* bits) {
    if (bits == nullptr) {
        errno = EFAULT;
        return -1;
    }
    constexpr int kOutputs = TIOCM_DTR | TIOCM_RTS;
    std::lock_guard lock(LinesLock);
    int& lines = Lines()[device];
    switch (request) {
    case TIOCMGET:
        *bits = lines;
        break;
    case TIOCMSET:
        lines = *bits & kOutputs;
        break;
    case TIOCMBIS:
        lines |= *bits & kOutputs;
        break;
    default: // TIOCMBIC
        lines &= ~(*bits & kOutputs);
        break;
    }
    return 0;
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);

    const int result = RealIoctl()(fd, request, argument);
    const bool modemLines =
        request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
    if (result == 0 || !modemLines || (errno != ENOTTY && errno != EINVAL))
        return result;
    const int savedErrno = errno;
    dev_t device = 0;
    if (!IsPseudoTerminal(fd, device)) {
        errno = savedErrno;
        return result;
    }
    return EmulateModemLines(device, request, static_cast<int*>(argument));
}

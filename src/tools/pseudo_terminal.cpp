#include "tools/pseudo_terminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace mbus::tools {
namespace {

bool MakeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

PseudoTerminal::~PseudoTerminal() {
    if (Slave_ >= 0)
        ::close(Slave_);
    if (Master_ >= 0)
        ::close(Master_);
}

bool PseudoTerminal::Open(std::string& error) {
    Master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (Master_ < 0 || ::grantpt(Master_) != 0 || ::unlockpt(Master_) != 0 ||
        ::ptsname_r(Master_, name, sizeof name) != 0) {
        error = std::string("cannot make a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    DevicePath_ = name;
    // Not locked: the console's open takes the lock. Echo and line editing off before anyone
    // writes, or the slave would answer requests itself.
    Slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Slave_ < 0 || !MakeRaw(Slave_) || !MakeRaw(Master_)) {
        error = std::string("cannot set up ") + name + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace mbus::tools

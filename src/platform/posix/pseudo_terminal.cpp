#include "platform/pseudo_terminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

namespace mbus::platform {
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

std::string Reason(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

PseudoTerminal::~PseudoTerminal() {
    if (Slave_ >= 0)
        ::close(Slave_);
    if (OpenWatch_ >= 0)
        ::close(OpenWatch_);
    CloseMaster();
}

bool PseudoTerminal::Open(SlaveHold hold, std::string& error) {
    Master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (Master_ < 0 || ::grantpt(Master_) != 0 || ::unlockpt(Master_) != 0 ||
        ::ptsname_r(Master_, name, sizeof name) != 0) {
        error = Reason("cannot make a pseudo-terminal");
        return false;
    }
    SlavePath_ = name;
    // Echo and line editing off before anyone writes, or the slave would answer what the far end
    // sends itself. The slave is not locked: the comm device's open takes the lock. A slave
    // closed again keeps its settings while the master is open.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0 || !MakeRaw(slave) || !MakeRaw(Master_)) {
        error = Reason(("cannot set up " + SlavePath_).c_str());
        if (slave >= 0)
            ::close(slave);
        return false;
    }
    if (hold == SlaveHold::Held) {
        Slave_ = slave;
        return true;
    }
    ::close(slave);
    // A hung-up master cannot wait for the next program in poll (it reports the hang-up at
    // once); the device's inode tells when it is opened.
    OpenWatch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (OpenWatch_ < 0 || ::inotify_add_watch(OpenWatch_, name, IN_OPEN) < 0) {
        error = Reason(("cannot watch " + SlavePath_).c_str());
        return false;
    }
    return true;
}

PseudoTerminal::Transfer PseudoTerminal::ReadMaster(std::span<std::uint8_t> into) {
    for (;;) {
        const ssize_t got = ::read(Master_, into.data(), into.size());
        if (got > 0)
            return {static_cast<std::size_t>(got), {}};
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EAGAIN)
            return {};
        return {0, got == 0 ? "reading the pseudo-terminal: end of file"
                            : Reason("reading the pseudo-terminal")};
    }
}

PseudoTerminal::Transfer PseudoTerminal::WriteMaster(std::span<const std::uint8_t> bytes) {
    for (;;) {
        const ssize_t put = ::write(Master_, bytes.data(), bytes.size());
        if (put >= 0)
            return {static_cast<std::size_t>(put), {}};
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return {};
        return {0, Reason("writing the pseudo-terminal")};
    }
}

PseudoTerminal::Readiness PseudoTerminal::WaitMaster(bool forWrite, std::uint32_t timeoutMs) const {
    pollfd fd{Master_, static_cast<short>(POLLIN | (forWrite ? POLLOUT : 0)), 0};
    const int timeout = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
    Readiness ready;
    if (::poll(&fd, 1, timeout) < 0) {
        if (errno != EINTR)
            ready.Failure = Reason("waiting on the pseudo-terminal");
        return ready;
    }
    ready.Readable = (fd.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
    ready.Writable = (fd.revents & POLLOUT) != 0;
    ready.HungUp = (fd.revents & POLLHUP) != 0;
    return ready;
}

bool PseudoTerminal::WaitForOpen(std::uint32_t timeoutMs) {
    const auto hungUp = [this] {
        pollfd master{Master_, POLLIN, 0};
        return ::poll(&master, 1, 0) > 0 && (master.revents & POLLHUP) != 0;
    };
    // Events of earlier opens (DiscardQueued's own among them) are read first: only an open
    // that comes while the line is seen hung up ends the wait.
    char events[4096];
    while (OpenWatch_ >= 0 && ::read(OpenWatch_, events, sizeof events) > 0) {
    }
    if (!hungUp())
        return true;
    if (OpenWatch_ < 0)
        return false;
    pollfd watch{OpenWatch_, POLLIN, 0};
    const int timeout = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
    return ::poll(&watch, 1, timeout) > 0 || !hungUp();
}

void PseudoTerminal::DiscardQueued() {
    ::tcflush(Master_, TCIFLUSH);
    // The device's input queue outlives a close of the device: flush it through a descriptor
    // of the slave side.
    const int slave = Slave_ >= 0
                          ? Slave_
                          : ::open(SlavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        return;
    ::tcflush(slave, TCIFLUSH);
    if (slave != Slave_)
        ::close(slave);
}

void PseudoTerminal::CloseMaster() {
    if (Master_ >= 0)
        ::close(Master_);
    Master_ = -1;
}

} // namespace mbus::platform

#include "platform/pseudo_terminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

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
    if (OpenNotices_ >= 0)
        ::close(OpenNotices_);
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
    if (hold == SlaveHold::Released) {
        ::close(slave);
        return true;
    }
    Slave_ = slave;
    // The master sees no hang-up while the slave is held, so a program leaving the line is
    // told by the device's inode instead: every open and close of it, in order, whatever the
    // path (a COM link) it was opened by. The object's own descriptor was opened before.
    OpenNotices_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (OpenNotices_ < 0 ||
        ::inotify_add_watch(OpenNotices_, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        error = Reason(("cannot follow the opens of " + SlavePath_).c_str());
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

PseudoTerminal::Readiness PseudoTerminal::WaitMaster(bool forWrite, std::uint32_t timeoutMs) {
    pollfd fds[2] = {{Master_, static_cast<short>(POLLIN | (forWrite ? POLLOUT : 0)), 0},
                     {OpenNotices_, POLLIN, 0}};
    const int timeout = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
    Readiness ready;
    if (::poll(fds, OpenNotices_ >= 0 ? 2 : 1, timeout) < 0) {
        if (errno != EINTR)
            ready.Failure = Reason("waiting on the pseudo-terminal");
        return ready;
    }
    ready.Readable = (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
    ready.Writable = (fds[0].revents & POLLOUT) != 0;
    ReadOpenNotices();
    ready.DeviceClosed = std::exchange(ClosedByAll_, false);
    return ready;
}

void PseudoTerminal::ReadOpenNotices() {
    alignas(inotify_event) char notices[4096];
    for (;;) {
        const ssize_t got =
            OpenNotices_ >= 0 ? ::read(OpenNotices_, notices, sizeof notices) : ssize_t{-1};
        if (got <= 0)
            return;
        for (ssize_t at = 0; at < got;) {
            const auto* notice = reinterpret_cast<const inotify_event*>(notices + at);
            if (notice->mask & IN_OPEN) {
                ++Openers_;
            } else if (notice->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                if (Openers_ > 0 && --Openers_ == 0)
                    ClosedByAll_ = true;
            } else if (notice->mask & IN_Q_OVERFLOW) {
                Openers_ = 0; // notices were lost: take it that everybody has gone
                ClosedByAll_ = true;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + notice->len);
        }
    }
}

void PseudoTerminal::DiscardQueued() {
    if (Slave_ < 0)
        return;
    ::tcflush(Slave_, TCIFLUSH);
    ReadOpenNotices();
    if (Openers_ == 0)
        ::tcflush(Master_, TCIFLUSH);
}

void PseudoTerminal::CloseMaster() {
    if (Master_ >= 0)
        ::close(Master_);
    Master_ = -1;
}

} // namespace mbus::platform

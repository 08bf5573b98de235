#include "support/pty_pair.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <thread>
#include <unistd.h>

namespace mbus::testing {

PtyPair::PtyPair() {
    Master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Master_ < 0 || ::grantpt(Master_) != 0 || ::unlockpt(Master_) != 0)
        throw std::runtime_error("cannot make a pseudo-terminal");
    char name[128];
    if (::ptsname_r(Master_, name, sizeof name) != 0)
        throw std::runtime_error("cannot name the pseudo-terminal");
    SlavePath_ = name;
}

PtyPair::~PtyPair() {
    CloseMaster();
}

void PtyPair::CloseMaster() {
    if (Master_ >= 0)
        ::close(Master_);
    Master_ = -1;
}

void PtyPair::WriteToDevice(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(Master_, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
        } else if (put < 0 && errno == EAGAIN) {
            pollfd fd{Master_, POLLOUT, 0};
            ::poll(&fd, 1, 1000);
        } else if (!(put < 0 && errno == EINTR)) {
            throw std::runtime_error("cannot write to the pseudo-terminal");
        }
    }
}

std::vector<std::uint8_t> PtyPair::ReadFromDevice(std::size_t count,
                                                  std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (bytes.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd fd{Master_, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            continue;
        std::uint8_t chunk[4096];
        const ssize_t got = ::read(Master_, chunk, std::min(sizeof chunk, count - bytes.size()));
        if (got > 0)
            bytes.insert(bytes.end(), chunk, chunk + got);
        else if (got == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return bytes;
}

} // namespace mbus::testing

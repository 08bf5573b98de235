#include "tools/meter_line.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace mbus::tools {

bool MeterLineLoop::Run(std::string& error) {
    for (;;) {
        MoveDueBursts();
        pollfd fds[2] = {{Master_, POLLIN, 0}, {StopFd_, POLLIN, 0}};
        if (!Outgoing_.empty())
            fds[0].events |= POLLOUT;
        if (::poll(fds, 2, Timeout()) < 0 && errno != EINTR) {
            error = std::string("poll: ") + std::strerror(errno);
            return false;
        }
        if (fds[1].revents & POLLIN)
            return true;
        if ((fds[0].revents & POLLIN) && !Receive(error))
            return false;
        if (!Outgoing_.empty() && !Send(error))
            return false;
        if ((fds[0].revents & (POLLHUP | POLLERR)) && !(fds[0].revents & POLLIN)) {
            error = "the pseudo-terminal was hung up";
            return false;
        }
    }
}

void MeterLineLoop::MoveDueBursts() {
    const auto now = SteadyClock::now();
    while (!Scheduled_.empty() && Scheduled_.begin()->first <= now) {
        const auto& bytes = Scheduled_.begin()->second;
        Outgoing_.insert(Outgoing_.end(), bytes.begin(), bytes.end());
        Scheduled_.erase(Scheduled_.begin());
    }
}

int MeterLineLoop::Timeout() const {
    if (!Outgoing_.empty() || Scheduled_.empty())
        return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(Scheduled_.begin()->first -
                                                                   SteadyClock::now());
    return static_cast<int>(std::max<std::int64_t>(wait.count(), 0));
}

bool MeterLineLoop::Receive(std::string& error) {
    std::uint8_t chunk[4096];
    for (;;) {
        const ssize_t got = ::read(Master_, chunk, sizeof chunk);
        if (got > 0) {
            const auto now = SteadyClock::now();
            for (Burst& burst : Simulator_.Receive({chunk, static_cast<std::size_t>(got)}))
                Scheduled_.emplace(now + std::chrono::milliseconds(burst.AfterMs),
                                   std::move(burst.Bytes));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        error = std::string("reading the pseudo-terminal: ") +
                (got == 0 ? "end of file" : std::strerror(errno));
        return false;
    }
}

bool MeterLineLoop::Send(std::string& error) {
    while (!Outgoing_.empty()) {
        const ssize_t put = ::write(Master_, Outgoing_.data(), Outgoing_.size());
        if (put > 0) {
            Outgoing_.erase(Outgoing_.begin(), Outgoing_.begin() + put);
            continue;
        }
        if (put < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        error = std::string("writing the pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    return true;
}

MeterLineThread::MeterLineThread(int master, SimulatorOptions options)
    : Simulator_(std::move(options), [] { return protocol::MeterClock{}; }),
      StopFd_(::eventfd(0, EFD_CLOEXEC)) {
    Thread_ = std::thread([this, master] {
        MeterLineLoop loop(master, StopFd_, Simulator_);
        std::string error;
        loop.Run(error);
    });
}

MeterLineThread::~MeterLineThread() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(StopFd_, &one, sizeof one);
    Thread_.join();
    ::close(StopFd_);
}

} // namespace mbus::tools

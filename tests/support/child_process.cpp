#include "support/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace mbus::testing {
namespace {

// Reads what `fd` has until `done` says so, the output ends or the time-out passes.
template <typename Done>
void ReadUntil(int fd, std::string& into, std::chrono::milliseconds timeout, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return;
        char chunk[512];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0 && !(got < 0 && errno == EINTR))
            return;
        if (got > 0)
            into.append(chunk, static_cast<std::size_t>(got));
    }
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    int in[2];
    int out[2];
    int err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make pipes");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    Input_ = in[1];
    Output_ = out[0];
    Errors_ = err[0];
    if (failed != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    Pid_ = pid;
}

ChildProcess::~ChildProcess() {
    if (Pid_ > 0 && !Wait(std::chrono::milliseconds(0))) {
        ::kill(Pid_, SIGKILL);
        Wait(std::chrono::seconds(10));
    }
    for (int fd : {Input_, Output_, Errors_}) {
        if (fd >= 0)
            ::close(fd);
    }
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
    ReadUntil(Output_, Buffered_, timeout,
              [&] { return Buffered_.find('\n') != std::string::npos; });
    const auto end = Buffered_.find('\n');
    if (end == std::string::npos)
        return std::nullopt;
    std::string line = Buffered_.substr(0, end);
    Buffered_.erase(0, end + 1);
    return line;
}

std::string ChildProcess::ReadErrors(std::chrono::milliseconds timeout) {
    std::string errors;
    ReadUntil(Errors_, errors, timeout, [] { return false; });
    return errors;
}

void ChildProcess::CloseInput() {
    if (Input_ >= 0)
        ::close(Input_);
    Input_ = -1;
}

void ChildProcess::Signal(int signal) {
    if (Pid_ > 0)
        ::kill(Pid_, signal);
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (Pid_ <= 0)
        return Status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(Pid_, &status, WNOHANG);
        if (done == Pid_) {
            Pid_ = -1;
            Status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return Status_;
        }
        if (done < 0 || std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string ProgramFromEnvironment(const char* name) {
    const char* path = std::getenv(name);
    if (path == nullptr)
        throw std::runtime_error(std::string(name) + " is not set");
    return path;
}

} // namespace mbus::testing

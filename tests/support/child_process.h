// A program run by a test in a process of its own, with its standard input and output on pipes:
// read its lines with a time-out, signal it, and wait for its exit with a time-out. A child still
// running when the object goes is killed.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace mbus::testing {

class ChildProcess {
public:
    // Starts argv[0] with the given arguments and the test's environment; throws
    // std::runtime_error when it cannot.
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of its standard output (without the line end), or none when none came in
    // time or the output ended.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    // Its standard error up to its end, within the time-out.
    std::string ReadErrors(std::chrono::milliseconds timeout);

    void CloseInput();
    void Signal(int signal);

    // Its exit status (128 + signal number when a signal ended it), or none when it is still
    // running after `timeout`.
    std::optional<int> Wait(std::chrono::milliseconds timeout);

private:
    int Pid_ = -1;
    int Input_ = -1;
    int Output_ = -1;
    int Errors_ = -1;
    std::string Buffered_; // output read past the last line taken
    std::optional<int> Status_;
};

// The path of a program the build passed to the test in environment variable `name`.
std::string ProgramFromEnvironment(const char* name);

} // namespace mbus::testing

// The built `mbus` program with standard output or error that takes nothing: a pipe nobody reads
// (full before the program starts, so its first write is held) must not keep a termination
// request from ending the program, which still closes its port and removes the COM link made for
// its run; and a pipe whose reader has gone ends every command with status 3, quietly, not with
// SIGPIPE. Every case works in a temporary XDG_CONFIG_HOME without port discovery.
#include "platform/comm_device.h"
#include "support/running_sim.h"
#include "support/temp_config_home.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using mbus::testing::RunningSim;
using mbus::testing::TempConfigHome;

std::string Mbus() {
    return mbus::testing::ProgramFromEnvironment("MBUS_PROGRAM");
}

// Both ends of a pipe, closed when the object goes.
struct Pipe {
    Pipe() {
        int ends[2];
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        Read = ends[0];
        Write = ends[1];
    }
    ~Pipe() {
        CloseRead();
        if (Write >= 0)
            ::close(Write);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    // Makes the pipe as small as it gets and fills it, so the next write waits for a reader.
    void Fill() {
        ::fcntl(Write, F_SETPIPE_SZ, 4096);
        const int flags = ::fcntl(Write, F_GETFL);
        ::fcntl(Write, F_SETFL, flags | O_NONBLOCK);
        const std::string block(4096, 'x');
        while (::write(Write, block.data(), block.size()) > 0) {
        }
        ::fcntl(Write, F_SETFL, flags); // the program gets the blocking pipe it would get
    }
    void CloseRead() {
        if (Read >= 0)
            ::close(Read);
        Read = -1;
    }
    std::string ReadAll() {
        ::close(Write);
        Write = -1;
        std::string all;
        char chunk[512];
        for (ssize_t got; (got = ::read(Read, chunk, sizeof chunk)) > 0;)
            all.append(chunk, static_cast<std::size_t>(got));
        return all;
    }

    int Read = -1;
    int Write = -1;
};

// `mbus` with the given arguments, its standard output and error on the given descriptors and
// /dev/null as its standard input; killed if still running when the object goes.
class Program {
public:
    Program(std::vector<std::string> args, int out, int err) {
        args.insert(args.begin(), Mbus());
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out, 1);
        posix_spawn_file_actions_adddup2(&actions, err, 2);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        EXPECT_EQ(::posix_spawn(&Pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Program() {
        if (!Ended()) {
            ::kill(Pid_, SIGKILL);
            ::waitpid(Pid_, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Whether one of its threads waits in a write to a pipe (the kernel's name for the wait).
    bool WritingToAPipe() const {
        const std::filesystem::path tasks = "/proc/" + std::to_string(Pid_) + "/task";
        std::error_code ec;
        for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
            std::string wchan;
            std::getline(std::ifstream(task.path() / "wchan"), wchan);
            if (wchan.find("pipe_write") != std::string::npos)
                return true;
        }
        return false;
    }

    void Signal(int signal) const { ::kill(Pid_, signal); }

    // Its exit status once it has ended within the time-out (128 + the signal that ended it).
    std::optional<int> Wait(std::chrono::milliseconds timeout) {
        mbus::testing::WaitFor([this] { return Ended(); }, timeout);
        return Status_;
    }

private:
    bool Ended() {
        int status = 0;
        if (!Status_ && ::waitpid(Pid_, &status, WNOHANG) == Pid_)
            Status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return Status_.has_value();
    }

    pid_t Pid_ = -1;
    std::optional<int> Status_;
};

bool HasComLinks(const std::filesystem::path& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind("COM", 0) == 0)
            return true;
    }
    return false;
}

// Whether the device can be opened through the comm device, i.e. no program holds it.
bool PortIsFree(const std::string& device) {
    const mbus::platform::CommHandle handle = mbus::platform::CreateFile(device);
    if (handle == mbus::platform::INVALID_HANDLE_VALUE)
        return false;
    mbus::platform::CloseHandle(handle);
    return true;
}

TEST(HeldOutput, ATerminationRequestEndsEveryCommandThatWaitsToWrite) {
    TempConfigHome home;
    // The meters' links live elsewhere: a read of their device registers a link for its run.
    std::unique_ptr<RunningSim> meter;
    std::unique_ptr<RunningSim> silent;
    {
        TempConfigHome elsewhere;
        meter = std::make_unique<RunningSim>(std::vector<std::string>{});
        silent = std::make_unique<RunningSim>(std::vector<std::string>{"--silent"});
    }
    ASSERT_FALSE(meter->DevicePath.empty());
    ASSERT_FALSE(silent->DevicePath.empty());

    struct Case {
        const char* What;
        std::vector<std::string> Args;
        bool HeldError; // standard error held (`2>&1 >/dev/null | sleep`) instead of output
        int Status;
        std::string Device; // the port it must leave free
    };
    const std::vector<Case> cases = {
        {"read, output held",
         {"read", "--port", meter->DevicePath, "--count", "1000", "--interval", "0"},
         false,
         3, // the output could not be written
         meter->DevicePath},
        {"read, errors held",
         {"read", "--port", silent->DevicePath, "--count", "1000", "--interval", "0", "--timeout",
          "1"},
         true,
         1, // interrupted
         silent->DevicePath},
        {"address, output held",
         {"address", "--port", meter->DevicePath},
         false,
         3,
         meter->DevicePath},
        {"sim, output held", {"sim"}, false, 3, ""}, // it ran, but its port could not be named
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        Pipe held;
        held.Fill();
        const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        Program program(c.Args, c.HeldError ? devNull : held.Write,
                        c.HeldError ? held.Write : devNull);
        ::close(devNull);
        EXPECT_TRUE(mbus::testing::WaitFor([&] { return program.WritingToAPipe(); }, 10s));
        EXPECT_TRUE(HasComLinks(home.PortsDirectory())) << "a link for the run";

        program.Signal(SIGTERM);
        const auto status = program.Wait(10s);
        ASSERT_TRUE(status) << "still running after SIGTERM";
        EXPECT_EQ(*status, c.Status);
        EXPECT_FALSE(HasComLinks(home.PortsDirectory()));
        if (!c.Device.empty()) {
            EXPECT_TRUE(PortIsFree(c.Device));
        }
    }
}

TEST(ClosedOutput, EveryCommandEndsWithStatus3Quietly) {
    TempConfigHome home;
    home.AddFakePort(1); // something for `mbus ports` to list
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"frame"},
                                               {"decode", "00"},
                                               {"ports"},
                                               {"--help"},
                                               {"--version"},
                                               {"read", "--help"}}) {
        SCOPED_TRACE(args[0]);
        Pipe output;
        output.CloseRead(); // the reader has gone before the first write
        Pipe errors;
        Program program(args, output.Write, errors.Write);
        EXPECT_EQ(program.Wait(10s), 3);
        EXPECT_EQ(errors.ReadAll(), "");
    }
}

} // namespace

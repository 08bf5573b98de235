// The built `mbus` program, through its real entry point: arguments, standard streams (also ones
// that cannot be read or written) and the exit status as a shell sees them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace {

struct Outcome {
    int Status;
    std::string Output;
};

// Runs a shell command line and collects its standard output.
Outcome Shell(const std::string& command) {
    Outcome outcome{-1, ""};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "popen failed: " << command;
        return outcome;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        outcome.Output.append(buffer, n);
    const int raw = pclose(pipe);
    outcome.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return outcome;
}

std::string Program() {
    return std::string("'") + MBUS_PROGRAM + "'";
}

TEST(MbusProgram, FrameExample) {
    const Outcome r =
        Shell(Program() + " frame --addr '12 34 56 78 90 12 34' --type 燃气表 --di '90 1F'");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Output, "FE FE 68 30 34 12 90 78 56 34 12 01 03 90 1F 00 35 16 \n");
}

TEST(MbusProgram, DecodeFromStandardInput) {
    const Outcome r =
        Shell("printf '%s\\n' 'FE FE 68 10 AA AA AA AA AA AA AA 81 16 1F 90 00 34 12 00 "
              "00 2C 00 10 00 00 2C 05 04 03 02 01 24 20 00 00 65 16' '00' | " +
              Program() + " decode");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(
        r.Output,
        "当前累积流量:000012.34;结算日累积流量:000010.00;实时时间:20240102030405;状态:0000;\n\n");
}

TEST(MbusProgram, UsageErrorGoesToStandardErrorWithStatus2) {
    const Outcome quiet = Shell(Program() + " frame --type 9 2>/dev/null");
    EXPECT_EQ(quiet.Status, 2);
    EXPECT_EQ(quiet.Output, "");
    const Outcome both = Shell(Program() + " frame --type 9 2>&1");
    EXPECT_EQ(both.Status, 2);
    EXPECT_EQ(both.Output.rfind("mbus frame: ", 0), 0u) << both.Output;
}

TEST(MbusProgram, FailuresToReadInputOrWriteOutputAreNoSuccess) {
    for (const char* command : {" frame", " decode 00", " ports --json", " --help"}) {
        SCOPED_TRACE(command);
        const Outcome full = Shell(Program() + command + " 2>&1 >/dev/full");
        EXPECT_EQ(full.Status, 3);
        EXPECT_EQ(full.Output, "mbus: cannot write the output\n");
    }
    // A folder as standard input: reading it fails.
    const Outcome folder = Shell(Program() + " decode 2>&1 </");
    EXPECT_EQ(folder.Status, 2);
    EXPECT_EQ(folder.Output, "mbus decode: cannot read standard input\n");
}

} // namespace

#include "tools/subcommands.h"

#include "support/temp_config_home.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace mbus::tools {
namespace {

struct CommandRun {
    int Status;
    std::string Out;
    std::string Err;
};

CommandRun RunMbusPorts(std::vector<std::string> args) {
    args.insert(args.begin(), "ports");
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunMbus(args, {in, out, err});
    return {status, out.str(), err.str()};
}

class PortsCommandTest : public ::testing::Test {
protected:
    testing::TempConfigHome Home;
};

TEST_F(PortsCommandTest, ListsPortsByNumberWithTheirDevices) {
    const std::string com12 = Home.AddFakePort(12);
    const std::string com2 = Home.AddFakePort(2);
    const CommandRun run = RunMbusPorts({});
    EXPECT_EQ(run.Status, kExitOk);
    EXPECT_EQ(run.Out, "COM2    " + com2 + "  link\nCOM12   " + com12 + "  link\n");
    EXPECT_EQ(run.Err, "");
}

TEST_F(PortsCommandTest, JsonGivesOneObjectPerPort) {
    const std::string com1 = Home.AddFakePort(1);
    const CommandRun run = RunMbusPorts({"--json"});
    EXPECT_EQ(run.Status, kExitOk);
    EXPECT_EQ(run.Out, "{\"name\": \"COM1\", \"device\": \"" + com1 + "\", \"explicit\": true}\n");
}

TEST_F(PortsCommandTest, NoPortIsNoFailureAndBadArgumentsAreUsageErrors) {
    const CommandRun run = RunMbusPorts({});
    EXPECT_EQ(run.Status, kExitOk);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find(Home.PortsDirectory().string()), std::string::npos) << run.Err;
    EXPECT_EQ(RunMbusPorts({"--bogus"}).Status, kExitUsage);
    EXPECT_EQ(RunMbusPorts({"COM1"}).Status, kExitUsage);
}

} // namespace
} // namespace mbus::tools

#include "mbus_run.h"

#include "tools/subcommands.h"

#include "support/temp_config_home.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace mbus::tools {
namespace {

MbusRun RunMbusPorts(std::vector<std::string> args) {
    args.insert(args.begin(), "ports");
    return RunMbusHere(args);
}

class PortsCommandTest : public ::testing::Test {
protected:
    testing::TempConfigHome Home;
};

TEST_F(PortsCommandTest, ListsPortsByNumberWithTheirDevices) {
    const std::string com12 = Home.AddFakePort(12);
    const std::string com2 = Home.AddFakePort(2);
    const MbusRun run = RunMbusPorts({});
    EXPECT_EQ(run.Status, kExitOk);
    EXPECT_EQ(run.Out, "COM2    " + com2 + "  link\nCOM12   " + com12 + "  link\n");
    EXPECT_EQ(run.Err, "");
}

TEST_F(PortsCommandTest, JsonGivesOneObjectPerPort) {
    const std::string com1 = Home.AddFakePort(1);
    const MbusRun run = RunMbusPorts({"--json"});
    EXPECT_EQ(run.Status, kExitOk);
    EXPECT_EQ(run.Out, "{\"name\": \"COM1\", \"device\": \"" + com1 + "\", \"explicit\": true}\n");
}

TEST_F(PortsCommandTest, LinksToWhatIsNoTerminalAreLeftOutWithANote) {
    const std::string file = Home.AddLinkToFile(1);
    const std::filesystem::path fifo = Home.Root() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink(fifo, Home.PortsDirectory() / "COM2");
    std::filesystem::create_symlink("/dev/null", Home.PortsDirectory() / "COM3");
    std::filesystem::create_symlink("/dev/zero", Home.PortsDirectory() / "COM4");
    std::filesystem::create_symlink(Home.Root(), Home.PortsDirectory() / "COM5");
    const std::string com6 = Home.AddFakePort(6);
    const MbusRun run = RunMbusPorts({});
    EXPECT_EQ(run.Status, kExitOk);
    EXPECT_EQ(run.Out, "COM6    " + com6 + "  link\n");
    EXPECT_EQ(run.Err,
              "mbus ports: left out: COM1 -> " + file + " is a regular file, not a terminal\n" +
                  "mbus ports: left out: COM2 -> " + fifo.string() +
                  " is a FIFO, not a terminal\n" +
                  "mbus ports: left out: COM3 -> /dev/null is a character device (1:3), not a "
                  "terminal\n" +
                  "mbus ports: left out: COM4 -> /dev/zero is a character device (1:5), not a "
                  "terminal\n" +
                  "mbus ports: left out: COM5 -> " + Home.Root().string() +
                  " is a folder, not a terminal\n");
}

TEST_F(PortsCommandTest, LinksToMissingDevicesAndLoopsAreNotedAndNamedWhenRead) {
    const std::filesystem::path unplugged = Home.Root() / "ttyUSB9";
    std::filesystem::create_symlink(unplugged, Home.PortsDirectory() / "COM3");
    std::filesystem::create_symlink("COM7", Home.PortsDirectory() / "COM7");
    const std::string loop =
        "COM7 -> " + (Home.PortsDirectory() / "COM7").string() + " is a loop of symbolic links";
    const MbusRun run = RunMbusPorts({});
    EXPECT_EQ(run.Status, kExitOk);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, "mbus ports: left out: COM3 -> " + unplugged.string() + " does not exist\n" +
                           "mbus ports: left out: " + loop + "\n" +
                           "mbus ports: no serial port (ports folder " +
                           Home.PortsDirectory().string() + ")\n");
    const MbusRun read = RunMbusHere({"read", "--port", "COM7"});
    EXPECT_EQ(read.Status, kExitUsage);
    EXPECT_EQ(read.Err,
              "mbus read: COM7: ie_BadId - Specified comport doesn't exist; " + loop + "\n");
}

TEST_F(PortsCommandTest, JsonEscapesEveryByteOfADevicePath) {
    const std::string device = Home.AddFakePort(1);
    const std::filesystem::path odd = Home.Root() / "dev\xFF\xFE\x01";
    std::filesystem::create_symlink(device, odd);
    std::filesystem::remove(Home.PortsDirectory() / "COM1");
    std::filesystem::create_symlink(odd, Home.PortsDirectory() / "COM1");
    EXPECT_EQ(RunMbusPorts({"--json"}).Out,
              "{\"name\": \"COM1\", \"device\": \"" + Home.Root().string() +
                  "/dev\\u00ff\\u00fe\\u0001\", \"explicit\": true}\n");
    EXPECT_EQ(RunMbusPorts({}).Out,
              "COM1    " + Home.Root().string() + "/dev\\xFF\\xFE\\x01  link\n");
}

TEST_F(PortsCommandTest, NoPortIsNoFailureAndBadArgumentsAreUsageErrors) {
    const MbusRun run = RunMbusPorts({});
    EXPECT_EQ(run.Status, kExitOk);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find(Home.PortsDirectory().string()), std::string::npos) << run.Err;
    EXPECT_EQ(RunMbusPorts({"--bogus"}).Status, kExitUsage);
    EXPECT_EQ(RunMbusPorts({"COM1"}).Status, kExitUsage);
}

} // namespace
} // namespace mbus::tools

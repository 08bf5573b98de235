#include "platform/port_map.h"

#include "support/pty_pair.h"
#include "support/temp_config_home.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

namespace mbus::platform {
namespace {
namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

MATCHER_P3(Entry, number, device, isExplicit, "") {
    return arg.Number == number && arg.DevicePath == device && arg.Explicit == isExplicit;
}

class PortMapTest : public ::testing::Test {
protected:
    testing::TempConfigHome Home;
};

TEST_F(PortMapTest, ExplicitLinksByNumberSkippingDanglingAndForeignNames) {
    const std::string com10 = Home.AddFakePort(10);
    const std::string com3 = Home.AddFakePort(3);
    Home.AddDanglingLink(4);
    // Names that are no COM<n> link: wrong case, leading zero, zero, not a number, no link.
    for (const char* name : {"com5", "COM05", "COM0", "COMx", "COM-1", "README"})
        fs::create_symlink(com3, Home.PortsDirectory() / name);
    std::ofstream(Home.PortsDirectory() / "COM6").put('x');
    // A relative target is taken from the ports folder.
    const testing::PtyPair pty;
    fs::create_symlink(pty.SlavePath(), Home.PortsDirectory() / "device");
    fs::create_symlink("device", Home.PortsDirectory() / "COM2");

    EXPECT_EQ(PortsDirectory(), Home.PortsDirectory().string());
    EXPECT_THAT(ReadPortMap(),
                ElementsAre(Entry(2, (Home.PortsDirectory() / "device").string(), true),
                            Entry(3, com3, true), Entry(10, com10, true)));
}

// A made-up /sys/class/tty and /dev, so discovery runs without touching the machine's ports.
class DiscoveryTest : public PortMapTest {
protected:
    fs::path Sys = Home.Root() / "sys";
    fs::path Dev = Home.Root() / "dev";
    fs::path Ports = Home.Root() / "ports";

    void SetUp() override {
        fs::create_directories(Sys);
        fs::create_directories(Dev);
        fs::create_directories(Ports);
    }

    // A tty in sysfs, with its device node unless `node` is false. `type` < 0 leaves out the
    // "type" attribute.
    void AddTty(const std::string& name, int type = -1, bool node = true) {
        fs::create_directories(Sys / name);
        if (type >= 0)
            std::ofstream(Sys / name / "type") << type << "\n";
        if (node)
            std::ofstream(Dev / name).put('x');
    }

    std::string DevPath(const std::string& name) const { return (Dev / name).string(); }

    std::vector<PortMapEntry> Read() const {
        return ReadPortMap({Ports.string(), Sys.string(), Dev.string()});
    }
};

TEST_F(DiscoveryTest, FamiliesInOrderEachByNumberRealUartsOnly) {
    AddTty("ttyUSB10");
    AddTty("ttyUSB2");
    AddTty("ttyACM0");
    AddTty("ttyAMA0");
    AddTty("ttyS1", 0); // an 8250 placeholder without hardware
    AddTty("ttyS0", 4); // a 16550A
    AddTty("ttyS2");    // no type attribute, but a bound driver
    fs::create_directories(Sys / "ttyS2" / "device" / "driver");
    AddTty("ttyS3");              // no type attribute, no driver
    AddTty("ttyUSB3", -1, false); // listed by sysfs, but no device node
    AddTty("tty0");
    AddTty("ttyprintk");
    AddTty("ttyUSB01");

    EXPECT_THAT(
        Read(),
        ElementsAre(Entry(1, DevPath("ttyS0"), false), Entry(2, DevPath("ttyS2"), false),
                    Entry(3, DevPath("ttyUSB2"), false), Entry(4, DevPath("ttyUSB10"), false),
                    Entry(5, DevPath("ttyACM0"), false), Entry(6, DevPath("ttyAMA0"), false)));
}

TEST_F(DiscoveryTest, DiscoveredDevicesFillTheLowestFreeNumbersAfterExplicitLinks) {
    AddTty("ttyUSB0");
    AddTty("ttyUSB1");
    // Explicit links count only to terminals: these two lead to pseudo-terminals.
    const testing::PtyPair acm;
    const testing::PtyPair other;
    AddTty("ttyACM0", -1, false);
    fs::create_symlink(acm.SlavePath(), Dev / "ttyACM0");
    fs::create_symlink(Dev / "ttyACM0", Ports / "COM1");
    fs::create_symlink(other.SlavePath(), Home.Root() / "pty");
    fs::create_symlink(Home.Root() / "pty", Ports / "COM3");

    // ttyACM0 is already COM1 and is not listed a second time.
    EXPECT_THAT(Read(),
                ElementsAre(Entry(1, DevPath("ttyACM0"), true), Entry(2, DevPath("ttyUSB0"), false),
                            Entry(3, (Home.Root() / "pty").string(), true),
                            Entry(4, DevPath("ttyUSB1"), false)));
}

TEST_F(DiscoveryTest, NoDiscoveryFileLeavesOnlyExplicitLinks) {
    const testing::PtyPair usb;
    AddTty("ttyUSB0", -1, false);
    fs::create_symlink(usb.SlavePath(), Dev / "ttyUSB0");
    AddTty("ttyS0", 4);
    fs::create_symlink(Dev / "ttyUSB0", Ports / "COM7");
    std::ofstream(Ports / "no-discovery");
    EXPECT_THAT(Read(), ElementsAre(Entry(7, DevPath("ttyUSB0"), true)));
}

TEST(ComNumberOfNameTest, AcceptsComNamesInAnyCaseWithOrWithoutDevicePrefix) {
    EXPECT_EQ(ComNumberOfName("COM3"), 3);
    EXPECT_EQ(ComNumberOfName("com12"), 12);
    EXPECT_EQ(ComNumberOfName("\\\\.\\COM255"), 255);
    EXPECT_EQ(ComNumberOfName("\\\\.\\cOm7"), 7);
    EXPECT_EQ(ComNumberOfName("COM65535"), 65535);
    for (const char* name :
         {"COM", "COM0", "COM03", "COM65536", "COM99999999999", "COM+1", "COM-1", "COM1 ", " COM1",
          "COMX", "LPT1", "/dev/ttyUSB0", "\\\\.\\", "\\\\?\\COM1"})
        EXPECT_EQ(ComNumberOfName(name), std::nullopt) << name;
}

TEST_F(PortMapTest, ResolvesComNamesThroughTheMapAndOtherNamesAsThey) {
    const std::string device = Home.AddFakePort(3);
    EXPECT_EQ(ResolveDeviceName("COM3"), device);
    EXPECT_EQ(ResolveDeviceName("\\\\.\\com3"), device);
    EXPECT_EQ(ResolveDeviceName("COM4"), std::nullopt);
    EXPECT_EQ(ResolveDeviceName("/dev/pts/4"), "/dev/pts/4");
}

TEST_F(PortMapTest, AddPortLinkReplacesADanglingLinkButNoLiveOne) {
    const std::string device = Home.AddFakePort(2);
    Home.AddDanglingLink(5);
    std::string error;

    EXPECT_TRUE(AddPortLink(5, device, error)) << error;
    EXPECT_FALSE(AddPortLink(2, "/elsewhere", error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(AddPortLink(0, device, error));
    EXPECT_THAT(ReadPortMap(), ElementsAre(Entry(2, device, true), Entry(5, device, true)));
}

TEST_F(PortMapTest, RemovePortLinkAndLowestFreeNumber) {
    EXPECT_EQ(LowestFreeComNumber(), 1);
    const std::string device = Home.AddFakePort(1);
    Home.AddFakePort(2);
    Home.AddFakePort(4);
    // The user's link to a device that is not there (an adapter unplugged) keeps its number.
    Home.AddDanglingLink(3);
    EXPECT_EQ(LowestFreeComNumber(), 5);
    RemovePortLink(1, "/dev/other"); // it names another device: stays
    EXPECT_EQ(LowestFreeComNumber(), 5);
    RemovePortLink(1, device);
    EXPECT_EQ(LowestFreeComNumber(), 1);
}

} // namespace
} // namespace mbus::platform

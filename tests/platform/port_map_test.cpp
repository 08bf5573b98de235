#include "platform/port_map.h"

#include "platform/comm_device.h"
#include "platform/scoped_port_link.h"
#include "platform/system_error.h"
#include "support/pty_pair.h"
#include "support/temp_config_home.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

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

TEST_F(DiscoveryTest, APortsFolderThatCannotBeReadKeepsDiscoveryOffAndSaysWhy) {
    // A file where the folder should be (root reads any folder, so a file stands for every
    // folder that cannot be read): its no-discovery file and links may be in there.
    AddTty("ttyUSB0");
    fs::remove(Ports);
    std::ofstream(Ports).put('x');
    PortMapNotes notes;
    EXPECT_THAT(ReadPortMap({Ports.string(), Sys.string(), Dev.string()}, &notes), IsEmpty());
    EXPECT_NE(notes.FolderProblem.find(Ports.string()), std::string::npos) << notes.FolderProblem;
    // A folder that is not there yet is no problem: discovery goes on.
    fs::remove(Ports);
    EXPECT_THAT(ReadPortMap({Ports.string(), Sys.string(), Dev.string()}, &notes),
                ElementsAre(Entry(1, DevPath("ttyUSB0"), false)));
    EXPECT_EQ(notes.FolderProblem, "");
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

TEST_F(PortMapTest, LinksAreListedOnlyToTerminalsAndStrayEntriesAreNoted) {
    const std::string com1 = Home.AddFakePort(1);
    const std::string file = Home.AddLinkToFile(2);
    fs::create_symlink("/dev/null", Home.PortsDirectory() / "COM3");
    fs::create_directory(Home.PortsDirectory() / "COM4");
    PortMapNotes notes;
    EXPECT_THAT(ReadPortMap(&notes), ElementsAre(Entry(1, com1, true)));
    ASSERT_EQ(notes.LeftOutEntries.size(), 3u);
    EXPECT_EQ(notes.LeftOutEntries[0].Number, 2);
    EXPECT_EQ(notes.LeftOutEntries[0].Reason,
              "COM2 -> " + file + " is a regular file, not a terminal");
    EXPECT_EQ(notes.LeftOutEntries[1].Reason,
              "COM3 -> /dev/null is a character device (1:3), not a terminal");
    EXPECT_EQ(notes.LeftOutEntries[2].Reason, "COM4 in the ports folder is a folder, not a link");
    EXPECT_EQ(ResolveDeviceName("COM2"), std::nullopt);
}

// A program's link is marked by ".COM<n>.owner", which the program holds locked while it runs.
class OwnedLinkTest : public PortMapTest {
protected:
    // The link COM<number> -> device with a mark recording `markedDevice`; the mark's descriptor
    // (holding the lock when `running`).
    int AddMarkedLink(int number, const std::string& device, const std::string& markedDevice,
                      bool running) {
        const fs::path mark = Home.PortsDirectory() / (".COM" + std::to_string(number) + ".owner");
        const int fd = ::open(mark.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::write(fd, markedDevice.data(), markedDevice.size()),
                  static_cast<ssize_t>(markedDevice.size()));
        if (running) {
            EXPECT_EQ(::flock(fd, LOCK_EX), 0);
        }
        fs::create_symlink(device, Home.PortsDirectory() / ("COM" + std::to_string(number)));
        return fd;
    }

    std::vector<std::string> FolderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Home.PortsDirectory()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    testing::PtyPair Device;
};

TEST_F(OwnedLinkTest, AnEndedProgramsLinkIsNeitherListedNorOpenedAndIsRemoved) {
    // COM1: its program runs. COM2: its program has ended, and the device's pseudo-terminal
    // number now belongs to someone else. COM3: the program has ended, but the user has since
    // pointed the link elsewhere; the link stays as the user's. COM4: the user's own.
    const int running = AddMarkedLink(1, Device.SlavePath(), Device.SlavePath(), true);
    ::close(AddMarkedLink(2, Device.SlavePath(), Device.SlavePath(), false));
    ::close(AddMarkedLink(3, Device.SlavePath(), "/dev/pts/gone", false));
    fs::create_symlink(Device.SlavePath(), Home.PortsDirectory() / "COM4");

    EXPECT_THAT(ReadPortMap(),
                ElementsAre(Entry(1, Device.SlavePath(), true), Entry(3, Device.SlavePath(), true),
                            Entry(4, Device.SlavePath(), true)));
    EXPECT_EQ(FolderEntries(),
              (std::vector<std::string>{".COM1.owner", "COM1", "COM3", "COM4", "no-discovery"}));
    EXPECT_EQ(CreateFile("COM2"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), ERROR_FILE_NOT_FOUND);

    // The program ends without removing anything (SIGKILL): the lock goes with it.
    ::close(running);
    EXPECT_EQ(ResolveDeviceName("COM1"), std::nullopt);
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"COM3", "COM4", "no-discovery"}));
}

TEST_F(OwnedLinkTest, RegistrationSkipsTakenNamesOfAnyKindAndGoesWithItsObject) {
    std::ofstream(Home.PortsDirectory() / "COM1").put('x');
    fs::create_directory(Home.PortsDirectory() / "COM2");
    Home.AddDanglingLink(3); // the user's, to an adapter that is not plugged in
    std::string error;
    {
        ScopedPortLink link;
        ASSERT_TRUE(link.Register(Device.SlavePath(), std::nullopt, error)) << error;
        EXPECT_EQ(link.Number(), 4);
        EXPECT_EQ(ResolveDeviceName("COM4"), Device.SlavePath());
        ScopedPortLink taken;
        EXPECT_FALSE(taken.Register(Device.SlavePath(), 4, error));
        EXPECT_EQ(error, "cannot register COM4 for " + Device.SlavePath() +
                             ": COM4 is registered by a running program");
        for (const int number : {1, 2, 3}) {
            ScopedPortLink stray;
            EXPECT_FALSE(stray.Register(Device.SlavePath(), number, error));
            EXPECT_NE(error.find("already has an entry COM" + std::to_string(number)),
                      std::string::npos)
                << error;
        }
    }
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"COM1", "COM2", "COM3", "no-discovery"}));
}

} // namespace
} // namespace mbus::platform

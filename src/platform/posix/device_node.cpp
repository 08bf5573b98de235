#include "platform/posix/device_node.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace mbus::platform::posix {
namespace {

constexpr const char* kTtyDrivers = "/proc/tty/drivers";

enum class TtyAnswer { Terminal, SystemTerminal, NotTerminal, Unknown };

// Whether a tty driver serves the character device major:minor, by the kernel's table of tty
// drivers ("name node major minor-range type" per line). Types "system..." are /dev/tty,
// /dev/console, /dev/ptmx and the virtual console master; "pty:master" is the far end of a
// pseudo-terminal: none of them is a serial port.
TtyAnswer ServedByTtyDriver(unsigned major, unsigned minor) {
    std::ifstream drivers(kTtyDrivers);
    if (!drivers)
        return TtyAnswer::Unknown;
    for (std::string line; std::getline(drivers, line);) {
        std::istringstream fields(line);
        std::string name;
        std::string node;
        unsigned driverMajor = 0;
        std::string minors;
        std::string type;
        if (!(fields >> name >> node >> driverMajor >> minors >> type) || driverMajor != major)
            continue;
        unsigned first = 0;
        unsigned last = 0;
        char dash = 0;
        std::istringstream range(minors);
        if (!(range >> first))
            continue;
        last = (range >> dash >> last) && dash == '-' ? last : first;
        if (minor < first || minor > last)
            continue;
        const bool serialPort = !type.starts_with("system") && type != "pty:master";
        return serialPort ? TtyAnswer::Terminal : TtyAnswer::SystemTerminal;
    }
    return TtyAnswer::NotTerminal;
}

// The name of a user or group id, or the number when the system has no name for it.
std::string UserName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_name;
    return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->gr_name;
    return std::to_string(gid);
}

// "rw-rw----" for the permission bits of a mode.
std::string PermissionText(mode_t mode) {
    std::string text;
    for (int shift = 6; shift >= 0; shift -= 3) {
        text += (mode >> shift) & 4 ? 'r' : '-';
        text += (mode >> shift) & 2 ? 'w' : '-';
        text += (mode >> shift) & 1 ? 'x' : '-';
    }
    return text;
}

} // namespace

DeviceNode InspectDeviceNode(const std::string& path) {
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0)
        return {DeviceNode::Kind::Missing, {}, errno};
    const auto other = [](std::string what) {
        return DeviceNode{DeviceNode::Kind::Other, what + ", not a terminal"};
    };
    if (S_ISDIR(node.st_mode))
        return other("a folder");
    if (S_ISREG(node.st_mode))
        return other("a regular file");
    if (S_ISFIFO(node.st_mode))
        return other("a FIFO");
    if (S_ISSOCK(node.st_mode))
        return other("a socket");
    if (!S_ISCHR(node.st_mode))
        return other("a block device");
    // Without the driver table (no /proc) every character device passes; the open then checks
    // that it answers as a terminal before it changes anything.
    const std::string number =
        std::to_string(major(node.st_rdev)) + ":" + std::to_string(minor(node.st_rdev));
    switch (ServedByTtyDriver(major(node.st_rdev), minor(node.st_rdev))) {
    case TtyAnswer::NotTerminal:
        return other("a character device (" + number + ")");
    case TtyAnswer::SystemTerminal:
        return {DeviceNode::Kind::Other,
                "a terminal of the system (" + number + "), not a serial port"};
    case TtyAnswer::Terminal:
    case TtyAnswer::Unknown:
        break;
    }
    return {DeviceNode::Kind::Terminal, {}};
}

std::string DescribePermissionDenied(const std::string& path) {
    if (::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0 ||
        (errno != EACCES && errno != EPERM))
        return {};
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0)
        return "permission denied for " + path;
    const std::string owner = UserName(node.st_uid);
    const std::string group = GroupName(node.st_gid);
    std::string text = "permission denied for " + path + " (owner " + owner + ", group " + group +
                       ", " + PermissionText(node.st_mode) + ")";
    if ((node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
        text += ": add the user to the group " + group + " (sudo adduser " + UserName(::getuid()) +
                " " + group + ") and log in again" +
                (group == "dialout" ? "" : " (on Debian serial ports belong to the group dialout)");
    else
        text += ": only " + owner + " may use it";
    return text;
}

} // namespace mbus::platform::posix

// What a device path names, decided from the file system and /proc/tty/drivers without opening
// it: the port map lists, and the comm device opens, only terminals, so a COM link to a file, a
// folder, a FIFO or /dev/null is never opened read-write, and /dev/tty (the caller's own
// terminal), /dev/console, /dev/ptmx and pseudo-terminal masters count as no serial port either.
// Also who may use a device, for the message when the system refuses the caller.
#pragma once

#include <string>

namespace mbus::platform::posix {

struct DeviceNode {
    enum class Kind { Missing, Terminal, Other };
    Kind Kind = Kind::Missing;
    std::string What; // for Other, as said to users: "a folder, not a terminal", ...
    int Errno = 0;    // for Missing: why the path leads nowhere (ENOENT, ENOTDIR, ...)
};

DeviceNode InspectDeviceNode(const std::string& path);

// Whether the system refuses the calling process read-write access to `path` by its permissions
// (rather than a lock or an exclusive open of another program), and if so, in words: the device,
// its owner, group and mode, and how a user gets access ("add the user to the group dialout").
// Empty when access is not refused by permissions.
std::string DescribePermissionDenied(const std::string& path);

} // namespace mbus::platform::posix

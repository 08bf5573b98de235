// The port map: how a COM number becomes a device on Linux.
//  1. Explicit entries: symbolic links named COM<n> in
//     ${XDG_CONFIG_HOME:-$HOME/.config}/mbus-console/ports/, each pointing at a terminal device.
//     A link whose target is gone (a device unplugged, a link that loops) and a link to anything
//     that is not a terminal (a file, a folder, a FIFO, /dev/null, ...) are left out and noted,
//     but for the link of a program that runs; a link that a program registered
//     for its run (ScopedPortLink) counts only while that program runs, and is removed when it
//     is found after its program has ended.
//  2. Then every present serial device (/dev/ttyS* that are real UARTs, /dev/ttyUSB*,
//     /dev/ttyACM*, /dev/ttyAMA*, ... family by family, each by number) gets the lowest COM number
//     not taken yet.
// A plain file named "no-discovery" in that folder switches step 2 off, and so does a ports
// folder that is there but cannot be read (said once on standard error). Reading the map never
// opens a device. On Windows the system names the ports itself: the Windows
// backend offers the reading half (names, the listed ports, the device behind a COM name); links
// are Linux's alone (AddPortLink, RemovePortLink, LowestFreeComNumber, PortMapSources).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mbus::platform {

struct PortMapEntry {
    int Number = 0;         // the n of COM<n>
    std::string DevicePath; // e.g. /dev/ttyUSB0 or /dev/pts/3
    bool Explicit = false;  // from a COM<n> link rather than discovery
};

// What a reading of the map found besides the ports (on Windows: nothing).
struct PortMapNotes {
    struct LeftOut {
        int Number = 0;
        std::string Reason; // e.g. "COM3 -> /tmp/x is a folder, not a terminal"
    };
    std::vector<LeftOut> LeftOutEntries; // COM entries of the ports folder that are not listed
    std::string FolderProblem;           // why the ports folder cannot be read, or empty
};

// ${XDG_CONFIG_HOME:-$HOME/.config}/mbus-console/ports (not created). On Windows: the registry
// key the ports are listed under.
std::string PortsDirectory();

// How this system gives ports their COM numbers, as `mbus ports --help` tells it (lines of at
// most 80 columns, each ending in a line feed).
std::string PortMapRule();

// Every mapped port, by COM number; with `notes`, also what was left out and why. On Windows:
// the ports HARDWARE\DEVICEMAP\SERIALCOMM lists, none explicit, each with the system's device
// name (\Device\Serial0, ...).
std::vector<PortMapEntry> ReadPortMap(PortMapNotes* notes = nullptr);

// Where a map is read from. ReadPortMap() uses the user's ports folder, /sys/class/tty and /dev;
// tests point all three at folders of their own.
struct PortMapSources {
    std::string PortsDirectory;
    std::string SysClassTty = "/sys/class/tty";
    std::string DevDirectory = "/dev";
};
std::vector<PortMapEntry> ReadPortMap(const PortMapSources& sources, PortMapNotes* notes = nullptr);

// The folders whose entries make up the map, each given as the nearest folder that exists: the
// ports folder, /dev, and the folders the ports folder's COM links point into (/dev/pts,
// /dev/serial/by-id, ...). A link added or removed, or a device node that appears or goes,
// changes one of them; a program that shows the map reads it again then. None on Windows, where
// the system keeps the list.
std::vector<std::string> PortMapFolders();

// Whether a system without any serial port is reported when the console lists its ports. Windows
// has no port list then (the system makes it with the first port), which the console reports as
// an error; the port map of Linux is simply empty until a device or a COM link appears.
bool NoPortListIsAnError();

// The highest COM number: the port component keeps the number in 16 bits.
inline constexpr int kHighestComNumber = 65535;

// The number `digits` spell when they are a plain decimal number: digits only, no sign, no
// leading zero, at most kHighestComNumber.
std::optional<int> PlainPortNumber(std::string_view digits);

// The COM number in "COM<n>" or "\\.\COM<n>" (letters in any case), or none for other names.
std::optional<int> ComNumberOfName(std::string_view name);

// Whether a name is meant as a COM name, well-formed or not: it starts with "\\.\", or with
// "COM" (any case) and has no '/'. A malformed one is reported rather than taken for a file.
bool LooksLikeComName(std::string_view name);

// The COM number the map gives a device (paths compared after resolving links), or none. None
// on Windows, where ports have COM names only.
std::optional<int> MappedComNumber(const std::string& devicePath);

// The device a name stands for: COM names through the map (none when unmapped; `notes` then
// say why, where the ports folder knows), any other name as it is (a device path). On Windows
// the system's device name that HARDWARE\DEVICEMAP\SERIALCOMM lists for the COM name
// (\Device\Serial0, ...).
std::optional<std::string> ResolveDeviceName(std::string_view name, PortMapNotes* notes = nullptr);

// Makes the explicit entry COM<number> -> devicePath as the user would by hand, creating the
// folder when needed; replaces a dangling link of that name but no live one. False with
// errno-style reason in `error`. Programs that register a device for their own run use
// ScopedPortLink instead.
bool AddPortLink(int number, const std::string& devicePath, std::string& error);

// Removes the explicit entry COM<number> if it still points at `devicePath`.
void RemovePortLink(int number, const std::string& devicePath);

// The lowest COM number (from 1) that neither the map nor any entry of the ports folder named
// COM<n> (a link to a missing device, a stray file or folder) uses.
int LowestFreeComNumber();

} // namespace mbus::platform

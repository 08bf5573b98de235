#include "platform/port_map.h"

#include "platform/posix/device_node.h"
#include "platform/posix/port_link_owner.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <pwd.h>
#include <set>
#include <unistd.h>

namespace mbus::platform {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kNoDiscoveryFile = "no-discovery";

// Serial device families in the order discovery numbers them. Only ttyS needs a UART check: the
// 8250 driver registers placeholder ports that have no hardware behind them.
struct DeviceFamily {
    std::string_view Prefix;
    bool NeedsUartCheck;
};
constexpr DeviceFamily kFamilies[] = {
    {"ttyS", true},    {"ttyUSB", false}, {"ttyACM", false}, {"ttyAMA", false},   {"ttymxc", false},
    {"ttySAC", false}, {"ttyO", false},   {"ttyTHS", false}, {"ttyXRUSB", false},
};

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir != nullptr)
        return found->pw_dir;
    return "/";
}

// Whether /sys/class/tty/<name> stands for a UART that exists: its "type" attribute names a
// known UART type (0 is "unknown", the placeholder's), or, where the driver has no such
// attribute, a driver is bound to the device. Reads attributes only; the device is not opened.
bool IsRealUart(const fs::path& sysEntry) {
    std::ifstream typeFile(sysEntry / "type");
    if (typeFile) {
        int type = 0;
        return static_cast<bool>(typeFile >> type) && type != 0;
    }
    std::error_code ec;
    return fs::exists(sysEntry / "device" / "driver", ec);
}

// The present serial devices under `devDir` that `sysClassTty` lists, family by family, each
// family by number.
std::vector<std::string> DiscoverSerialDevices(const fs::path& sysClassTty,
                                               const fs::path& devDir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(sysClassTty, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());

    std::vector<std::string> devices;
    for (const DeviceFamily& family : kFamilies) {
        std::vector<std::pair<int, std::string>> members;
        for (const std::string& name : names) {
            if (!name.starts_with(family.Prefix))
                continue;
            const auto number =
                PlainPortNumber(std::string_view(name).substr(family.Prefix.size()));
            if (!number)
                continue;
            if (family.NeedsUartCheck && !IsRealUart(sysClassTty / name))
                continue;
            std::error_code existsError;
            if (!fs::exists(devDir / name, existsError))
                continue;
            members.emplace_back(*number, (devDir / name).string());
        }
        std::sort(members.begin(), members.end());
        for (auto& member : members)
            devices.push_back(std::move(member.second));
    }
    return devices;
}

// What the ports folder holds: its COM<n> links to terminals, the numbers that any entry takes,
// and what it leaves out.
struct FolderScan {
    std::vector<PortMapEntry> Entries; // by number
    std::set<int> TakenNumbers;        // an entry COM<n> of any kind, or a running program's mark
    PortMapNotes Notes;
};

// The entries of the folder by name, or the reason it cannot be read. A folder that is not there
// is no problem: it is made when the first link is.
std::vector<std::pair<std::string, fs::file_status>> ListFolder(const fs::path& directory,
                                                                std::string& problem) {
    std::vector<std::pair<std::string, fs::file_status>> names;
    std::error_code ec;
    const fs::file_status status = fs::status(directory, ec);
    if (ec) {
        if (ec != std::errc::no_such_file_or_directory)
            problem = ec.message();
        return names;
    }
    if (!fs::is_directory(status)) {
        problem = "not a folder";
        return names;
    }
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code entryError;
        names.emplace_back(it->path().filename().string(), it->symlink_status(entryError));
    }
    if (ec) {
        problem = ec.message();
        names.clear();
    }
    return names;
}

// What kind of entry a file status stands for, as said to users.
std::string KindName(const fs::file_status& status) {
    switch (status.type()) {
    case fs::file_type::directory:
        return "a folder";
    case fs::file_type::regular:
        return "a regular file";
    case fs::file_type::fifo:
        return "a FIFO";
    case fs::file_type::socket:
        return "a socket";
    case fs::file_type::character:
    case fs::file_type::block:
        return "a device node";
    default:
        return "an entry";
    }
}

// Why a link leads to no device, after its target: "does not exist", ...
std::string MissingText(int error) {
    switch (error) {
    case ENOENT:
        return "does not exist";
    case ELOOP:
        return "is a loop of symbolic links";
    default:
        return "cannot be reached (" + std::string(std::strerror(error)) + ")";
    }
}

FolderScan ScanPortsFolder(const fs::path& directory) {
    FolderScan scan;
    std::string problem;
    const auto names = ListFolder(directory, problem);
    if (!problem.empty()) {
        scan.Notes.FolderProblem =
            "the ports folder " + directory.string() + " cannot be read (" + problem + ")";
        return scan;
    }

    std::set<int> marks;
    std::vector<std::pair<int, fs::path>> comEntries;
    for (const auto& [name, status] : names) {
        if (const int marked = posix::NumberOfOwnerMark(name); marked > 0)
            marks.insert(marked);
        if (!name.starts_with("COM"))
            continue;
        const auto number = PlainPortNumber(std::string_view(name).substr(3));
        if (number && *number > 0)
            comEntries.emplace_back(*number, directory / name);
    }
    std::sort(comEntries.begin(), comEntries.end());
    // Links whose program has ended go first (with their marks); what is left is current.
    std::set<int> registered; // links of programs that run: each program reports on its own
    for (const int number : marks) {
        if (posix::CheckLinkOwner(directory.string(), number) == posix::LinkOwner::Running) {
            scan.TakenNumbers.insert(number);
            registered.insert(number);
        }
    }

    for (const auto& [number, path] : comEntries) {
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(path, ec);
        if (ec || !fs::exists(status))
            continue; // a link of an ended program, removed just now
        scan.TakenNumbers.insert(number);
        const std::string com = "COM" + std::to_string(number);
        if (!fs::is_symlink(status)) {
            scan.Notes.LeftOutEntries.push_back(
                {number, com + " in the ports folder is " + KindName(status) + ", not a link"});
            continue;
        }
        const posix::DeviceNode node = posix::InspectDeviceNode(path.string());
        fs::path target = fs::read_symlink(path, ec);
        if (ec)
            continue;
        if (target.is_relative())
            target = (directory / target).lexically_normal();
        if (node.Kind == posix::DeviceNode::Kind::Missing) {
            // The device is not there (an adapter unplugged, a link that names itself): the
            // user's link is said, so a port that cannot be found is not a mystery.
            if (!registered.contains(number))
                scan.Notes.LeftOutEntries.push_back(
                    {number, com + " -> " + target.string() + " " + MissingText(node.Errno)});
            continue;
        }
        if (node.Kind == posix::DeviceNode::Kind::Other) {
            scan.Notes.LeftOutEntries.push_back(
                {number, com + " -> " + target.string() + " is " + node.What});
            continue;
        }
        scan.Entries.push_back({number, target.string(), true});
    }
    std::sort(scan.Entries.begin(), scan.Entries.end(),
              [](const PortMapEntry& a, const PortMapEntry& b) { return a.Number < b.Number; });
    return scan;
}

// Says once per process on standard error that the ports folder cannot be read: the user's links
// and the no-discovery choice are not in force, and the user should know.
void WarnOnceAboutFolder(const std::string& problem) {
    static std::atomic<bool> warned{false};
    if (problem.empty() || warned.exchange(true))
        return;
    // Through the standard stream, so a program whose standard error nobody reads is not held
    // here (StandardOutputStreams).
    std::cerr << program_invocation_short_name << ": " << problem
              << ": its COM links are left out and port discovery stays off\n";
}

std::string CanonicalOrSelf(const std::string& path) {
    std::error_code ec;
    fs::path canonical = fs::canonical(path, ec);
    return ec ? path : canonical.string();
}

fs::path LinkPath(int number) {
    return fs::path(PortsDirectory()) / ("COM" + std::to_string(number));
}

} // namespace

std::string PortsDirectory() {
    std::string base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/')
        base = config;
    else
        base = HomeDirectory() + "/.config";
    return base + "/mbus-console/ports";
}

std::string PortMapRule() {
    return "  1. Every symbolic link COM<n> in the ports folder that points at an existing\n"
           "     terminal device is COM<n>. A link to anything else (a device that is not\n"
           "     there, itself, a file, a folder, a FIFO, /dev/null) is left out with a note on\n"
           "     standard error; a link that a program registered for its run is left out once\n"
           "     that program has ended (it is removed).\n"
           "  2. Then the present serial devices (/dev/ttyS* that are real UARTs, /dev/ttyUSB*,\n"
           "     /dev/ttyACM*, /dev/ttyAMA*, ...), family by family and each by number, get the\n"
           "     lowest COM numbers still free. A file named no-discovery in the ports folder\n"
           "     switches this step off, and so does a ports folder that cannot be read.\n"
           "\n"
           "Ports folder: " +
           PortsDirectory() + "\n";
}

std::vector<PortMapEntry> ReadPortMap(PortMapNotes* notes) {
    return ReadPortMap({PortsDirectory()}, notes);
}

namespace {

// The map and, in `taken`, every COM number in use by it or by an entry of the ports folder.
std::vector<PortMapEntry> ReadMap(const PortMapSources& sources, PortMapNotes* notes,
                                  std::set<int>* taken) {
    const fs::path directory = sources.PortsDirectory;
    FolderScan scan = ScanPortsFolder(directory);
    WarnOnceAboutFolder(scan.Notes.FolderProblem);
    std::vector<PortMapEntry> map = std::move(scan.Entries);
    if (taken)
        *taken = scan.TakenNumbers;
    const bool folderUnreadable = !scan.Notes.FolderProblem.empty();
    if (notes)
        *notes = std::move(scan.Notes);

    // A folder that is there but cannot be read may hold the no-discovery file: discovery stays
    // off rather than list ports the user chose to hide.
    std::error_code ec;
    if (folderUnreadable || fs::exists(fs::symlink_status(directory / kNoDiscoveryFile, ec)))
        return map;

    std::set<int> numbers = scan.TakenNumbers;
    std::set<std::string> mappedDevices;
    for (const PortMapEntry& entry : map) {
        numbers.insert(entry.Number);
        mappedDevices.insert(CanonicalOrSelf(entry.DevicePath));
    }
    int next = 1;
    for (std::string& device : DiscoverSerialDevices(sources.SysClassTty, sources.DevDirectory)) {
        if (!mappedDevices.insert(CanonicalOrSelf(device)).second)
            continue;
        while (numbers.contains(next))
            ++next;
        if (next > kHighestComNumber)
            break;
        numbers.insert(next);
        if (taken)
            taken->insert(next);
        map.push_back({next, std::move(device), false});
    }
    std::sort(map.begin(), map.end(),
              [](const PortMapEntry& a, const PortMapEntry& b) { return a.Number < b.Number; });
    return map;
}

} // namespace

std::vector<PortMapEntry> ReadPortMap(const PortMapSources& sources, PortMapNotes* notes) {
    return ReadMap(sources, notes, nullptr);
}

std::vector<std::string> PortMapFolders() {
    const auto nearestFolder = [](fs::path path) {
        std::error_code ec;
        while (!fs::is_directory(path, ec) && path.has_relative_path())
            path = path.parent_path();
        return path.string();
    };
    const PortMapSources sources{PortsDirectory()};
    const fs::path directory = sources.PortsDirectory;
    std::set<std::string> folders = {nearestFolder(directory), nearestFolder(sources.DevDirectory)};
    std::string problem;
    for (const auto& [name, status] : ListFolder(directory, problem)) {
        if (!name.starts_with("COM") || !fs::is_symlink(status))
            continue;
        std::error_code ec;
        fs::path target = fs::read_symlink(directory / name, ec);
        if (ec)
            continue;
        if (target.is_relative())
            target = (directory / target).lexically_normal();
        folders.insert(nearestFolder(target.parent_path()));
    }
    return {folders.begin(), folders.end()};
}

bool NoPortListIsAnError() {
    return false;
}

std::optional<int> MappedComNumber(const std::string& devicePath) {
    const std::string wanted = CanonicalOrSelf(devicePath);
    for (const PortMapEntry& entry : ReadPortMap()) {
        if (CanonicalOrSelf(entry.DevicePath) == wanted)
            return entry.Number;
    }
    return std::nullopt;
}

bool AddPortLink(int number, const std::string& devicePath, std::string& error) {
    if (number < 1 || number > kHighestComNumber) {
        error = std::strerror(EINVAL);
        return false;
    }
    std::error_code ec;
    fs::create_directories(PortsDirectory(), ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    const fs::path link = LinkPath(number);
    const fs::file_status status = fs::symlink_status(link, ec);
    if (fs::is_symlink(status) && !fs::exists(link, ec))
        fs::remove(link, ec); // dangling: the device it named is gone
    if (::symlink(devicePath.c_str(), link.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

void RemovePortLink(int number, const std::string& devicePath) {
    const fs::path link = LinkPath(number);
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(link, ec)) && fs::read_symlink(link, ec) == devicePath)
        fs::remove(link, ec);
}

int LowestFreeComNumber() {
    std::set<int> taken;
    ReadMap({PortsDirectory()}, nullptr, &taken);
    int number = 1;
    while (taken.contains(number))
        ++number;
    return number;
}

} // namespace mbus::platform

#include "platform/posix/port_link_owner.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace mbus::platform::posix {
namespace {

constexpr std::string_view kMarkPrefix = ".COM";
constexpr std::string_view kMarkSuffix = ".owner";
constexpr int kHighestComNumber = 65535;

std::string LinkPath(const std::string& folder, int number) {
    return folder + "/COM" + std::to_string(number);
}

std::string MarkPath(const std::string& folder, int number) {
    return folder + "/" + OwnerMarkName(number);
}

// A descriptor closed when the object goes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : Fd_(fd) {}
    ~Descriptor() {
        if (Fd_ >= 0)
            ::close(Fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return Fd_; }
    int Release() { return std::exchange(Fd_, -1); }

private:
    int Fd_;
};

// The lock on the ports folder that registration and the removal of stale marks hold, so a
// remover never sees a mark that is made but not yet locked. Held for a few system calls only.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : Fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        while (Fd_.Get() >= 0 && ::flock(Fd_.Get(), LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    // Closing the descriptor lets the lock go.

private:
    Descriptor Fd_;
};

// The device path a mark records, or empty.
std::string RecordedDevice(int markFd) {
    char path[PATH_MAX];
    const ssize_t got = ::pread(markFd, path, sizeof path, 0);
    return got > 0 ? std::string(path, static_cast<std::size_t>(got)) : std::string();
}

// Removes the link COM<number> if it points at `devicePath`.
void RemoveLinkTo(const std::string& folder, int number, const std::string& devicePath) {
    const std::string link = LinkPath(folder, number);
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    if (length > 0 && std::string_view(target, static_cast<std::size_t>(length)) == devicePath)
        ::unlink(link.c_str());
}

// With the folder lock held: the owner of COM<number>'s mark, removing a gone owner's mark and
// link.
LinkOwner SettleMark(const std::string& folder, int number) {
    const std::string mark = MarkPath(folder, number);
    Descriptor fd(::open(mark.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Get() < 0)
        return errno == ENOENT ? LinkOwner::User : LinkOwner::Running;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        return LinkOwner::Running; // held, or a file system without locks: leave it alone
    // Nobody holds it, and nobody can be making it: its program has ended.
    const std::string device = RecordedDevice(fd.Get());
    if (!device.empty())
        RemoveLinkTo(folder, number, device);
    ::unlink(mark.c_str());
    return LinkOwner::Gone;
}

} // namespace

std::string OwnerMarkName(int number) {
    return std::string(kMarkPrefix) + std::to_string(number) + std::string(kMarkSuffix);
}

int NumberOfOwnerMark(const std::string& fileName) {
    std::string_view name(fileName);
    if (!name.starts_with(kMarkPrefix) || !name.ends_with(kMarkSuffix))
        return 0;
    name = name.substr(kMarkPrefix.size(), name.size() - kMarkPrefix.size() - kMarkSuffix.size());
    if (name.empty() || name.size() > 5 || name.front() == '0')
        return 0;
    int number = 0;
    for (const char c : name) {
        if (c < '0' || c > '9')
            return 0;
        number = number * 10 + (c - '0');
    }
    return number <= kHighestComNumber ? number : 0;
}

LinkOwner CheckLinkOwner(const std::string& folder, int number) {
    {
        // The usual answers without the folder lock: no mark, or a mark its program holds.
        Descriptor fd(::open(MarkPath(folder, number).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (fd.Get() < 0)
            return errno == ENOENT ? LinkOwner::User : LinkOwner::Running;
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
            return LinkOwner::Running;
        // Let go at once: a program registering this mark waits for it.
    }
    const FolderLock lock(folder);
    return SettleMark(folder, number);
}

PortLinkOwner::~PortLinkOwner() {
    Unregister();
}

bool PortLinkOwner::Register(const std::string& folder, int number, const std::string& devicePath,
                             std::string& error) {
    const FolderLock lock(folder);
    const std::string mark = MarkPath(folder, number);
    const auto create = [&] {
        return ::open(mark.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    };
    int created = create();
    if (created < 0 && errno == EEXIST) {
        // Cleared at most once: with the folder lock held nobody else makes a mark meanwhile.
        if (SettleMark(folder, number) == LinkOwner::Gone)
            created = create();
        else
            errno = EEXIST;
    }
    if (created < 0) {
        error = errno == EEXIST
                    ? "COM" + std::to_string(number) + " is registered by a running program"
                    : std::strerror(errno);
        return false;
    }
    Descriptor fd(created);
    // A program checking the mark holds its lock for an instant only.
    int locked = -1;
    while ((locked = ::flock(fd.Get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    const bool recorded = locked == 0 && ::write(fd.Get(), devicePath.data(), devicePath.size()) ==
                                             static_cast<ssize_t>(devicePath.size());
    if (!recorded) {
        error = std::strerror(errno);
        ::unlink(mark.c_str());
        return false;
    }
    if (::symlink(devicePath.c_str(), LinkPath(folder, number).c_str()) != 0) {
        error = errno == EEXIST
                    ? "the ports folder already has an entry COM" + std::to_string(number)
                    : std::strerror(errno);
        ::unlink(mark.c_str());
        return false;
    }
    MarkFd_ = fd.Release();
    Folder_ = folder;
    DevicePath_ = devicePath;
    Number_ = number;
    return true;
}

void PortLinkOwner::Unregister() {
    if (MarkFd_ < 0)
        return;
    // The link goes before the mark: a program that finds the number free finds no link.
    RemoveLinkTo(Folder_, Number_, DevicePath_);
    ::unlink(MarkPath(Folder_, Number_).c_str());
    ::close(MarkFd_);
    MarkFd_ = -1;
}

} // namespace mbus::platform::posix

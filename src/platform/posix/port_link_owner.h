// The owner mark of a COM link that a program registers for its own run: a file ".COM<n>.owner"
// beside the link COM<n>, holding the device path, that the program keeps locked (flock) for as
// long as it runs. The kernel lets the lock go when the program ends, however it ends (SIGKILL
// included), so a mark that another program can lock belongs to a program that is gone: its link
// is stale, and whoever finds it removes both. A link without a mark is the user's own and stays.
// Registration and removal of stale marks take a lock on the ports folder, so neither sees the
// other half done. Used by ScopedPortLink (registration) and the port map (checks).
#pragma once

#include <string>

namespace mbus::platform::posix {

class PortLinkOwner {
public:
    PortLinkOwner() = default;
    ~PortLinkOwner(); // unregisters
    PortLinkOwner(const PortLinkOwner&) = delete;
    PortLinkOwner& operator=(const PortLinkOwner&) = delete;

    // Makes the link COM<number> -> devicePath in `folder` with its locked mark. False with
    // `error` set when the number is taken (by a link or file of that name, or by a running
    // program's mark) or the folder refuses. A mark left by a program that is gone is cleared
    // first. Call once.
    bool Register(const std::string& folder, int number, const std::string& devicePath,
                  std::string& error);

    // Removes the link (if it still points at the device) and the mark, and lets the lock go.
    void Unregister();

private:
    int MarkFd_ = -1;
    std::string Folder_;
    std::string DevicePath_;
    int Number_ = 0;
};

enum class LinkOwner {
    User,    // no mark: the user's own link (or none)
    Running, // the mark is held by a running program
    Gone,    // the marking program has ended; mark and link have been removed
};

// Who owns the entry COM<number> of `folder`, by its mark; a gone owner's mark and link (if it
// still points at the device the mark records) are removed before this returns.
LinkOwner CheckLinkOwner(const std::string& folder, int number);

// The mark's file name for COM<number>, and the number a file name marks (0 for other names).
std::string OwnerMarkName(int number);
int NumberOfOwnerMark(const std::string& fileName);

} // namespace mbus::platform::posix

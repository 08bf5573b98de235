// A throw-away XDG_CONFIG_HOME for tests that touch the port map. Its ports folder holds the
// "no-discovery" file from the start, so nothing a test does lists or opens a real serial port;
// ports exist only as COM<n> links that the test makes to plain files standing in for devices.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace mbus::testing {

class TempConfigHome {
public:
    TempConfigHome();
    ~TempConfigHome();
    TempConfigHome(const TempConfigHome&) = delete;
    TempConfigHome& operator=(const TempConfigHome&) = delete;

    const std::filesystem::path& Root() const { return Root_; }
    std::filesystem::path PortsDirectory() const;

    // Makes a plain file standing in for a device (named after the port, in Root()) and the
    // link COM<number> to it; returns the file's path.
    std::string AddFakePort(int number);

    // A link COM<number> to a path that does not exist.
    void AddDanglingLink(int number);

private:
    std::filesystem::path Root_;
    std::optional<std::string> SavedConfigHome_;
};

} // namespace mbus::testing

// A throw-away XDG_CONFIG_HOME for tests that touch the port map. Its ports folder holds the
// "no-discovery" file from the start, so nothing a test does lists or opens a real serial port;
// ports exist only as COM<n> links that the test makes to pseudo-terminals standing in for
// devices (the map lists nothing but terminals).
// On Windows the system lists the ports, as values of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: there
// the object removes that key, and the console's settings, when it is made and when it goes, and
// the ports a test adds are values of the key with no device behind them. It works under Wine
// only, in the throw-away prefix of the test session (which removed Wine's own ports), and
// refuses to run elsewhere.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include "platform/pseudo_terminal.h"
#endif

namespace mbus::testing {

#ifdef _WIN32
class TempConfigHome {
public:
    // Throws std::runtime_error outside Wine.
    TempConfigHome();
    ~TempConfigHome();
    TempConfigHome(const TempConfigHome&) = delete;
    TempConfigHome& operator=(const TempConfigHome&) = delete;

    // Registers COM<number> as a driver registers a port; returns the system's device name it
    // stands for (\Device\MbusTest<number>).
    std::string AddFakePort(int number);
};
#else
class TempConfigHome {
public:
    TempConfigHome();
    ~TempConfigHome();
    TempConfigHome(const TempConfigHome&) = delete;
    TempConfigHome& operator=(const TempConfigHome&) = delete;

    const std::filesystem::path& Root() const { return Root_; }
    std::filesystem::path PortsDirectory() const;

    // Makes a pseudo-terminal standing in for a device (it lives as long as this object) and the
    // link COM<number> to it; returns the device's path.
    std::string AddFakePort(int number);

    // A link COM<number> to a path that does not exist.
    void AddDanglingLink(int number);

    // A link COM<number> to a plain file (a path that is no terminal); returns the file's path.
    std::string AddLinkToFile(int number);

private:
    std::filesystem::path Root_;
    std::optional<std::string> SavedConfigHome_;
    std::vector<std::unique_ptr<platform::PseudoTerminal>> Devices_;
};
#endif

} // namespace mbus::testing

// A COM<n> link in the port map that a program registers for its own run and removes when it
// ends: `mbus sim` registers its pseudo-terminal, `mbus read --port DEVICE` a device the map does
// not know. The link goes when the object goes (if it still points at the device); a program that
// holds an InterruptFlag ends through its destructors on SIGINT, SIGTERM and SIGHUP, so then too.
#pragma once

#include <optional>
#include <string>

namespace mbus::platform {

class ScopedPortLink {
public:
    ScopedPortLink() = default;
    ~ScopedPortLink();
    ScopedPortLink(const ScopedPortLink&) = delete;
    ScopedPortLink& operator=(const ScopedPortLink&) = delete;

    // Registers COM<wanted> for `devicePath` or, with no number wanted, the lowest free number,
    // tried again when another program takes it first. False with `error` set ("cannot register
    // COM5 for /dev/pts/3: File exists"). Call once.
    bool Register(const std::string& devicePath, std::optional<int> wanted, std::string& error);

    // The registered number, or 0.
    int Number() const { return Number_; }

private:
    std::string DevicePath_;
    int Number_ = 0;
};

} // namespace mbus::platform

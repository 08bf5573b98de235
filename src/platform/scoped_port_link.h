// A COM<n> link in the port map that a program registers for its own run: `mbus sim` registers
// its pseudo-terminal, `mbus read --port DEVICE` a device the map does not know. The link goes
// when the object goes (if it still points at the device); a program that holds an InterruptFlag
// ends through its destructors on a termination request, so then too. A program that is killed
// outright leaves its link behind, but the link is marked as the program's: the port map neither
// lists nor opens it once the program has ended, and removes it when it finds it.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace mbus::platform {

class ScopedPortLink {
public:
    ScopedPortLink();
    ~ScopedPortLink();
    ScopedPortLink(const ScopedPortLink&) = delete;
    ScopedPortLink& operator=(const ScopedPortLink&) = delete;

    // Registers COM<wanted> for `devicePath` or, with no number wanted, the lowest free number
    // (numbers that any entry of the ports folder uses are skipped), tried again when another
    // program takes it first. A number asked for that is taken is refused, whatever holds it.
    // False with `error` set ("cannot register COM5 for /dev/pts/3: the ports folder already has
    // an entry COM5"). Call once.
    bool Register(const std::string& devicePath, std::optional<int> wanted, std::string& error);

    // The registered number, or 0.
    int Number() const { return Number_; }

private:
    struct Registration; // the link and the mark its program holds while it runs
    std::unique_ptr<Registration> Registration_;
    int Number_ = 0;
};

} // namespace mbus::platform

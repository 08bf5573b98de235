// The simulated meter's end of the line: a pseudo-terminal whose master side the simulator reads
// and writes, and whose slave side is the device a console opens. The simulator keeps a slave
// descriptor of its own open, so the master never sees a hang-up when a console closes the port;
// both sides are in raw mode.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace mbus::tools {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Makes the pair; false with `error` set when the system has none to give.
    bool Open(std::string& error);

    const std::string& DevicePath() const { return DevicePath_; }
    int MasterFd() const { return Master_; } // non-blocking

private:
    int Master_ = -1;
    int Slave_ = -1;
    std::string DevicePath_;
};

} // namespace mbus::tools

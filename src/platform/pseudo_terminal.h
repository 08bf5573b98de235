// A pseudo-terminal: a line whose slave side is a device path that the comm device opens like a
// serial port, and whose master side a program holds to play the far end (the simulated meter,
// a test, a benchmark's peer). Both sides are in raw mode; transfers on the master never wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace mbus::platform {

class PseudoTerminal {
public:
    // Whether the object keeps a descriptor of the slave side open for its whole life. Held: the
    // master never sees a hang-up when a program closes the device. Released: the master sees
    // the hang-up whenever no program has the device open (from the start, too), and the line
    // stays usable: the next program to open the device ends it (WaitForOpen).
    enum class SlaveHold { Released, Held };

    // The outcome of a transfer on the master side.
    struct Transfer {
        std::size_t Count = 0; // bytes moved; 0 when none could move without waiting
        std::string Failure;   // why the line failed (hung up, closed), or empty
        bool Failed() const { return !Failure.empty(); }
    };

    // What WaitMaster found.
    struct Readiness {
        bool Readable = false; // bytes are there, or a hang-up that the next read reports
        bool Writable = false;
        bool HungUp = false; // no program has the device open (SlaveHold::Released only)
        std::string Failure; // why the wait itself failed, or empty
    };

    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Makes the pair; false with `error` set when the system has none to give. Call once.
    bool Open(SlaveHold hold, std::string& error);

    // The slave side's device path, e.g. /dev/pts/3.
    const std::string& SlavePath() const { return SlavePath_; }

    Transfer ReadMaster(std::span<std::uint8_t> into);
    Transfer WriteMaster(std::span<const std::uint8_t> bytes);

    // Waits until the master side can be read or, with `forWrite`, written, until `timeoutMs`
    // passes, or until a signal arrives (then nothing is ready). Returns at once while the line
    // is hung up.
    Readiness WaitMaster(bool forWrite, std::uint32_t timeoutMs) const;

    // While the line is hung up, waits until a program opens the device or `timeoutMs` passes;
    // true when one did (it may have closed the device again since) or the line is up.
    bool WaitForOpen(std::uint32_t timeoutMs);

    // Drops what waits on the line in both directions: bytes the master has written that the
    // device has not read, and bytes the device has written that the master has not read. A
    // program that opens the device next finds a quiet line.
    void DiscardQueued();

    // Closes the master side: a program on the device sees a hang-up. Transfers fail from then on.
    void CloseMaster();

private:
    int Master_ = -1;
    int Slave_ = -1;     // held open with SlaveHold::Held
    int OpenWatch_ = -1; // with SlaveHold::Released: tells when a program opens the device
    std::string SlavePath_;
};

} // namespace mbus::platform

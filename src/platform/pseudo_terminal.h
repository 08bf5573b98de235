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
    // master never sees a hang-up when a program closes the device, so the line outlives a
    // console that closes the port and opens it again; the object follows the opens and closes
    // of the device instead (Readiness::DeviceClosed). Released: the master sees the hang-up.
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
        // Held: every program that had the device open has closed it since the last wait (one
        // may have opened it again since). Told once.
        bool DeviceClosed = false;
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

    // Waits until the master side can be read or, with `forWrite`, written, a program opens or
    // closes the device (Held), `timeoutMs` passes, or a signal arrives (then nothing is ready).
    Readiness WaitMaster(bool forWrite, std::uint32_t timeoutMs);

    // Held: drops the bytes the master has written that the device has not read, and, while no
    // program has the device open, those the device has written that the master has not read,
    // so the next program to open the device finds a quiet line.
    void DiscardQueued();

    // Closes the master side: a program on the device sees a hang-up. Transfers fail from then on.
    void CloseMaster();

private:
    // Held: reads the system's notices of opens and closes of the device.
    void ReadOpenNotices();

    int Master_ = -1;
    int Slave_ = -1; // held open with SlaveHold::Held
    std::string SlavePath_;
    // Held: the device's opens and closes by programs (not the object's own descriptor).
    int OpenNotices_ = -1;
    std::size_t Openers_ = 0;  // programs that have the device open
    bool ClosedByAll_ = false; // since the last wait, Openers_ came down to 0
};

} // namespace mbus::platform

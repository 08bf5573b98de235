// A pseudo-terminal made inside a test: the master side stays with the test, which plays the far
// end of the line (the meter); the slave's path is the device the comm device opens. Adds to the
// platform's pseudo-terminal the test's blocking transfers with a bounded wait.
// On Windows (com_pair.cpp) the line is a pair of COM ports joined by a null-modem cable: the
// "slave path" is the device side's COM name, the far end is opened through the comm device, and
// closing it is no hang-up.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#ifndef _WIN32
#include "platform/pseudo_terminal.h"
#endif

namespace mbus::testing {

#ifndef _WIN32
class PtyPair : public platform::PseudoTerminal {
public:
    // Throws std::runtime_error when no pseudo-terminal can be made.
    explicit PtyPair(SlaveHold hold = SlaveHold::Released);

    // Writes all bytes to the master side (the device then receives them).
    void WriteToDevice(const std::vector<std::uint8_t>& bytes);
    // Reads from the master side until `count` bytes came or `timeout` passed.
    std::vector<std::uint8_t> ReadFromDevice(std::size_t count, std::chrono::milliseconds timeout);
};
#else
class PtyPair {
public:
    // Takes a free pair of those listed in MBUS_TEST_COM_PAIRS; throws std::runtime_error when
    // there is none.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return SlavePath_; }

    void WriteToDevice(const std::vector<std::uint8_t>& bytes);
    std::vector<std::uint8_t> ReadFromDevice(std::size_t count, std::chrono::milliseconds timeout);

    // Closes the far end (the device sees no hang-up).
    void CloseMaster();

private:
    std::intptr_t FarEnd_ = -1; // the far end's comm handle
    std::string SlavePath_;
    int Pair_ = -1; // which of the listed pairs
};
#endif

// The COM number a test's line answers to: on Linux a link COM<wanted> to it in the current port
// map (a test's temporary one); on Windows the device side's own number, whatever was wanted.
// Throws std::runtime_error when the link cannot be made.
int RegisterTestPort(const PtyPair& line, int wanted);

} // namespace mbus::testing

// A pseudo-terminal made inside a test: the master side stays with the test, which plays the far
// end of the line (the meter); the slave's path is the device the comm device opens. Adds to the
// platform's pseudo-terminal the test's blocking transfers with a bounded wait.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/pseudo_terminal.h"

namespace mbus::testing {

class PtyPair : public platform::PseudoTerminal {
public:
    // Throws std::runtime_error when no pseudo-terminal can be made.
    explicit PtyPair(SlaveHold hold = SlaveHold::Released);

    // Writes all bytes to the master side (the device then receives them).
    void WriteToDevice(const std::vector<std::uint8_t>& bytes);
    // Reads from the master side until `count` bytes came or `timeout` passed.
    std::vector<std::uint8_t> ReadFromDevice(std::size_t count, std::chrono::milliseconds timeout);
};

} // namespace mbus::testing

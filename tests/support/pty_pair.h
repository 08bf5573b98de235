// A pseudo-terminal pair made inside a test: the master side stays with the test, which plays
// the far end of the line (the meter); the slave's path is the device the comm device opens.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mbus::testing {

class PtyPair {
public:
    PtyPair(); // throws std::runtime_error when no pseudo-terminal can be made
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return SlavePath_; }
    int MasterFd() const { return Master_; }

    // Writes all bytes to the master side (the device then receives them).
    void WriteToDevice(const std::vector<std::uint8_t>& bytes);
    // Reads from the master side until `count` bytes came or `timeout` passed.
    std::vector<std::uint8_t> ReadFromDevice(std::size_t count, std::chrono::milliseconds timeout);

    // Closes the master side: the device sees a hang-up.
    void CloseMaster();

private:
    int Master_ = -1;
    std::string SlavePath_;
};

} // namespace mbus::testing

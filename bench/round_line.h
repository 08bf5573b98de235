// The line both round benchmarks read: 50 cold-water meters of `mbus sim` with a 20 ms
// turnaround at 8E1, three rounds a run, and its meter list.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>

namespace mbus::bench {

inline constexpr int kMeters = 50;
inline constexpr int kRounds = 3;
inline constexpr int kTurnaroundMs = 20;
inline constexpr int kBitsPerByte = 11; // start, 8 data, even parity, stop

// The address of meter `meter` (1 .. kMeters) as typed: 00000000000001 …
inline std::string RoundMeterAddress(int meter) {
    char address[16];
    std::snprintf(address, sizeof address, "%014d", meter);
    return address;
}

// Writes the line's meter list to `path`: "address,0,meter N" a line.
inline void WriteRoundMeterList(const std::string& path) {
    std::ofstream file(path);
    file << "# " << kMeters << " cold-water meters\n";
    for (int i = 1; i <= kMeters; ++i)
        file << RoundMeterAddress(i) << ",0,meter " << i << "\n";
}

} // namespace mbus::bench

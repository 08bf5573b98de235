// The time a byte takes on a serial line: a start bit, eight data bits, a parity bit when the
// line has one, and a stop bit, at the line's baud rate. A pseudo-terminal delivers bytes at any
// speed; the simulated meter hears requests and writes its replies at this pace, so that the
// wire time of a real line is there in tests and benchmarks.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace mbus::sim {

struct LinePace {
    std::chrono::nanoseconds ByteTime{0}; // zero: unpaced, as fast as the device takes bytes

    bool Paced() const { return ByteTime.count() > 0; }
    // How long `bytes` bytes take on the wire.
    std::chrono::nanoseconds WireTime(std::size_t bytes) const {
        return ByteTime * static_cast<std::int64_t>(bytes);
    }
};

// The pace of a line at `baud` (above 0) with eight data bits and one stop bit, and a parity bit
// when `parityBit` holds: 2400 baud 8E1 is 11 bits, 4.58 ms, a byte.
inline LinePace PaceOf(std::uint32_t baud, bool parityBit) {
    const std::int64_t bits = parityBit ? 11 : 10;
    return {std::chrono::nanoseconds(bits * 1'000'000'000 / baud)};
}

} // namespace mbus::sim

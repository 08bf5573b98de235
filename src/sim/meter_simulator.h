// The answering logic of the simulated meter (`mbus sim`): which configured meter answers a
// read-data or read-address request, what it answers (its readings advance with every read of
// the data; the read-address reply carries its type and address), and how the answer
// goes on the line (wake-up bytes, delay, bursts, echo, noise, a wrong checksum, or silence).
// It works on bytes and times only; the meter line (meter_line.h) puts it on a pseudo-terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <span>
#include <vector>

#include "protocol/meter_reply.h"
#include "protocol/request.h"

namespace mbus::sim {

struct SimulatedMeterSpec {
    int TypePosition = 0;            // position in the console's type list, 0..7
    protocol::LineAddress Address{}; // as on the line, least significant byte first
};

// The meter on the line when none is configured: the cold-water meter 00000000000001.
inline constexpr SimulatedMeterSpec kDefaultMeter{0, {0x01, 0, 0, 0, 0, 0, 0}};

struct SimulatorOptions {
    std::vector<SimulatedMeterSpec> Meters;
    std::size_t Preamble = 2;     // 0xFE bytes before each reply
    std::uint32_t DelayMs = 0;    // from the end of the request to the first reply byte
    std::size_t Bursts = 1;       // the reply goes in this many parts ...
    std::uint32_t BurstGapMs = 0; // ... this far apart
    bool Echo = false;            // repeat the request first, like a two-wire converter
    bool CorruptChecksum = false;
    bool Silent = false; // answer nothing
    bool Noise = false;  // a few stray bytes before each reply
};

// Bytes to send `AfterMs` milliseconds after the request that caused them was complete.
struct Burst {
    std::uint32_t AfterMs = 0;
    std::vector<std::uint8_t> Bytes;
};

class MeterSimulator {
public:
    using Clock = std::function<protocol::MeterClock()>;

    // `clock` gives the meters' clock at each reply; `noiseSeed` makes the noise repeatable.
    MeterSimulator(SimulatorOptions options, Clock clock, std::uint32_t noiseSeed = 1);

    // Takes received bytes and returns what to send for the first request they complete that a
    // meter answers. The bytes after that request are dropped: a meter on a half-duplex line is
    // busy answering while they arrive (the line loop drops what comes until the reply is out).
    std::vector<Burst> Receive(std::span<const std::uint8_t> bytes);

    // Forgets the bytes of a request not complete yet: the program that sent them has gone.
    void DropPartialRequest() { Received_.clear(); }

private:
    struct Meter {
        std::uint8_t TypeCode;
        protocol::LineAddress Address;
        std::uint32_t Reads = 0;
    };

    Meter* MeterFor(const protocol::ReadRequest& request);
    std::vector<std::uint8_t> ReplyOf(Meter& meter, const protocol::ReadRequest& request);
    void AddNoise(std::vector<std::uint8_t>& bytes);

    SimulatorOptions Options_;
    Clock Clock_;
    std::minstd_rand Noise_;
    std::vector<Meter> Meters_;
    std::vector<std::uint8_t> Received_; // bytes not yet part of a complete request
};

// Whether a type code is answered with the heat layout (0x2x) rather than the water/gas one.
bool IsHeatMeter(std::uint8_t typeCode);

} // namespace mbus::sim

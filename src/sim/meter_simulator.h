// The answering logic of the simulated meter (`mbus sim`): which configured meter answers a
// request, what it answers, and how the answer goes on the line (wake-up bytes, delay, bursts,
// echo, noise, a wrong checksum, or silence). Each meter has the state of a prepaid meter: its
// counters advance with every read of the current data; its valve (shown in the status bytes of
// every later reply), clock (an offset from the host clock), address, settlement and reading
// days, price table, purchase record (drawn down by the consumption) and key version change with
// the writes it takes; twelve months of history follow from its counters. It answers every
// operation of meter_operations.h, and refuses an identifier or operation it does not know, data
// it cannot take, or (on request) every write, with an error reply. It works on bytes and times
// only; the meter line (meter_line.h) puts it on a pseudo-terminal.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "protocol/meter_operations.h"
#include "protocol/meter_reply.h"
#include "protocol/request.h"

namespace mbus::sim {

struct SimulatedMeterSpec {
    int TypePosition = 0;            // position in the console's type list, 0..7
    protocol::LineAddress Address{}; // as on the line, least significant byte first
    bool Silent = false;             // this meter answers nothing
    bool CorruptChecksum = false;    // this meter's replies carry a wrong checksum
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
    bool Silent = false;         // answer nothing
    bool Noise = false;          // a few stray bytes before each reply
    bool RefuseWrites = false;   // refuse every write and write-address request
    bool SwapIdentifier = false; // answer with the identifier in the other byte order
    // Told, in one line of text, of each change a write makes to a meter (valve, clock, address,
    // days, prices, purchases).
    std::function<void(const std::string&)> Notice = {};
};

// The status bytes of the simulator's refusals.
inline constexpr std::array<std::uint8_t, 2> kRefusedUnknown{0x01, 0x00};  // identifier, operation
inline constexpr std::array<std::uint8_t, 2> kRefusedData{0x02, 0x00};     // data it cannot take
inline constexpr std::array<std::uint8_t, 2> kRefusedWrite{0x04, 0x00};    // writes refused
inline constexpr std::array<std::uint8_t, 2> kRefusedPurchase{0x08, 0x00}; // not the next purchase

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
        bool Silent = false;
        bool CorruptChecksum = false;
        std::uint32_t Reads = 0; // reads of the current data: the counters advance with each
        bool ValveClosed = false;
        std::int64_t ClockOffset = 0; // seconds ahead of the host clock
        std::uint8_t SettlementDay = 1;
        std::uint8_t ReadingDay = 20;
        protocol::PriceTable Prices{{350, 450, 600}, {100, 200}};
        std::uint8_t PurchaseSequence = 3;
        std::uint32_t LastPurchase = 10000; // 元 × 100
        std::uint32_t TotalBought = 30000;  // 元 × 100
        std::uint32_t SpentBefore = 5000;   // 元 × 100, before the counters' first read
        std::uint8_t KeyVersion = 0x01;
    };
    // What a request gets: the reply's control code and data, or a refusal's status bytes.
    struct Answer {
        std::uint8_t Control = 0;
        std::vector<std::uint8_t> Data;
        std::array<std::uint8_t, 2> Refusal{};
        bool Refused = false;
    };

    Meter* MeterFor(const protocol::ReadRequest& request);
    std::vector<std::uint8_t> ReplyOf(Meter& meter, const protocol::ReadRequest& request);
    Answer ReadData(Meter& meter, const protocol::ReadRequest& request);
    Answer Write(Meter& meter, const protocol::ReadRequest& request);
    Answer WriteAddress(Meter& meter, const protocol::ReadRequest& request);
    protocol::MeterClock MeterClockOf(const Meter& meter) const;
    std::uint32_t Remaining(const Meter& meter) const;
    void Tell(const Meter& meter, const std::string& change) const;
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

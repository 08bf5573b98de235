#include "sim/meter_simulator.h"

#include "protocol/meter_type.h"

#include <algorithm>

namespace mbus::sim {
namespace {

constexpr std::uint8_t kWildcard = 0xAA;
// Received bytes kept while no request completes: more than any request with its wake-up bytes.
constexpr std::size_t kMaxPending = 256;

// The identifier a request of its control code carries, in either byte order.
bool IsKnownRequest(const protocol::ReadRequest& request) {
    const protocol::DataIdentifier& id = request.DataId;
    const auto is = [&id](std::uint8_t first, std::uint8_t second) {
        return (id[0] == first && id[1] == second) || (id[0] == second && id[1] == first);
    };
    if (request.Control == protocol::kControlReadAddress)
        return is(protocol::kReadAddressId[0], protocol::kReadAddressId[1]);
    return is(0x1F, 0x90);
}

protocol::WaterReading WaterReadingAt(std::uint32_t reads, const protocol::MeterClock& clock) {
    protocol::WaterReading reading;
    reading.CurrentFlow = 1234 + 17 * reads; // 12.34 m³, then 0.17 m³ more per read
    reading.SettlementFlow = 1000;
    reading.Clock = clock;
    return reading;
}

protocol::HeatReading HeatReadingAt(std::uint32_t reads, const protocol::MeterClock& clock) {
    protocol::HeatReading reading;
    reading.SettlementHeat = 12345;
    reading.CurrentHeat = 23456 + 123 * reads;
    reading.HeatPower = 1234 + 10 * (reads % 5);
    reading.FlowRate = 12345 + 100 * (reads % 7);
    reading.CumulativeFlow = 56789 + 37 * reads;
    reading.SupplyTemperature = 6543;
    reading.ReturnTemperature = 4521;
    reading.WorkingHours = 1234 + reads;
    reading.Clock = clock;
    return reading;
}

} // namespace

bool IsHeatMeter(std::uint8_t typeCode) {
    return (typeCode & 0xF0) == 0x20;
}

MeterSimulator::MeterSimulator(SimulatorOptions options, Clock clock, std::uint32_t noiseSeed)
    : Options_(std::move(options)), Clock_(std::move(clock)), Noise_(noiseSeed) {
    for (const SimulatedMeterSpec& spec : Options_.Meters)
        Meters_.push_back(
            {protocol::MeterTypeCode(spec.TypePosition).value_or(0x10), spec.Address});
    Options_.Bursts = std::max<std::size_t>(Options_.Bursts, 1);
}

std::vector<Burst> MeterSimulator::Receive(std::span<const std::uint8_t> bytes) {
    Received_.insert(Received_.end(), bytes.begin(), bytes.end());
    std::vector<Burst> bursts;
    for (;;) {
        const protocol::RequestScan scan = protocol::ScanReadRequest(Received_);
        const auto consumed = Received_.begin() + static_cast<std::ptrdiff_t>(scan.Consumed);
        Meter* meter = scan.Request && !Options_.Silent ? MeterFor(*scan.Request) : nullptr;
        // The echo is the converter's, not the meter's: every request comes back, answered or
        // not.
        if (scan.Request && Options_.Echo)
            bursts.push_back({0, {Received_.begin(), consumed}});
        Received_.erase(Received_.begin(), consumed);
        if (!scan.Request)
            break;
        if (!meter)
            continue;
        // One meter on a half-duplex line answers one request at a time: what came after the
        // request it answers arrived while it was busy, and is lost.
        Received_.clear();

        std::vector<std::uint8_t> reply = ReplyOf(*meter, *scan.Request);
        if (Options_.Noise)
            AddNoise(reply);
        const std::size_t parts = std::min(Options_.Bursts, reply.size());
        std::size_t from = 0;
        for (std::size_t part = 0; part < parts; ++part) {
            const std::size_t to = reply.size() * (part + 1) / parts;
            bursts.push_back(
                {Options_.DelayMs + static_cast<std::uint32_t>(part) * Options_.BurstGapMs,
                 {reply.begin() + from, reply.begin() + to}});
            from = to;
        }
        break;
    }
    if (Received_.size() > kMaxPending)
        Received_.erase(Received_.begin(), Received_.end() - kMaxPending);
    return bursts;
}

MeterSimulator::Meter* MeterSimulator::MeterFor(const protocol::ReadRequest& request) {
    if (!IsKnownRequest(request))
        return nullptr;
    const bool anyAddress = std::all_of(request.Address.begin(), request.Address.end(),
                                        [](std::uint8_t b) { return b == kWildcard; });
    for (Meter& meter : Meters_) {
        const bool typeFits = request.TypeCode == meter.TypeCode || request.TypeCode == kWildcard;
        if (typeFits && (anyAddress || request.Address == meter.Address))
            return &meter; // the first one: a wildcard address is answered once
    }
    return nullptr;
}

std::vector<std::uint8_t> MeterSimulator::ReplyOf(Meter& meter,
                                                  const protocol::ReadRequest& request) {
    protocol::ReplyHeader header;
    header.TypeCode = meter.TypeCode;
    header.Address = meter.Address;
    header.DataId = request.DataId;
    header.Sequence = request.Sequence;
    header.Preamble = Options_.Preamble;
    std::vector<std::uint8_t> reply;
    if (request.Control == protocol::kControlReadAddress) {
        reply = protocol::BuildAddressReply(header); // a read-address is no read of the counters
    } else {
        const protocol::MeterClock clock = Clock_();
        reply = IsHeatMeter(meter.TypeCode)
                    ? protocol::BuildHeatReply(header, HeatReadingAt(meter.Reads, clock))
                    : protocol::BuildWaterReply(header, WaterReadingAt(meter.Reads, clock));
        ++meter.Reads;
    }
    if (Options_.CorruptChecksum)
        ++reply[reply.size() - 2];
    return reply;
}

void MeterSimulator::AddNoise(std::vector<std::uint8_t>& bytes) {
    // Stray bytes on the line; never the identifier's bytes, so a decoder still finds the reply.
    std::uniform_int_distribution<int> count(1, 4);
    std::uniform_int_distribution<int> value(0, 255);
    std::vector<std::uint8_t> noise;
    for (int i = count(Noise_); i > 0; --i) {
        auto byte = static_cast<std::uint8_t>(value(Noise_));
        if (byte == 0x1F || byte == 0x90)
            byte ^= 0x01;
        noise.push_back(byte);
    }
    bytes.insert(bytes.begin(), noise.begin(), noise.end());
}

} // namespace mbus::sim

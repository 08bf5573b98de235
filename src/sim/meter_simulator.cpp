#include "sim/meter_simulator.h"

#include "protocol/bcd.h"
#include "protocol/meter_type.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace mbus::sim {
namespace {

constexpr std::uint8_t kWildcard = 0xAA;
// Received bytes kept while no request completes: more than any request with its wake-up bytes.
constexpr std::size_t kMaxPending = 256;

// What the counters show before the first read, and how far they go with each read (in hundredths
// of m³, or of kWh for heat meters); the settlement day's counter, and how much less it was a
// month earlier.
constexpr std::uint32_t kWaterStart = 1234;
constexpr std::uint32_t kWaterPerRead = 17;
constexpr std::uint32_t kWaterSettlement = 1000;
constexpr std::uint32_t kWaterPerMonth = 75;
constexpr std::uint32_t kHeatStart = 23456;
constexpr std::uint32_t kHeatPerRead = 123;
constexpr std::uint32_t kHeatSettlement = 12345;
constexpr std::uint32_t kHeatPerMonth = 900;
constexpr std::uint8_t kCubicMetres = 0x2C;
constexpr std::uint8_t kKilowattHours = 0x05;

std::array<std::uint8_t, 2> StatusBytes(bool valveClosed) {
    return {static_cast<std::uint8_t>(valveClosed ? 0x01 : 0x00), 0x00};
}

protocol::WaterReading WaterReadingAt(std::uint32_t reads, const protocol::MeterClock& clock) {
    protocol::WaterReading reading;
    reading.CurrentFlow = kWaterStart + kWaterPerRead * reads; // 12.34 m³, then 0.17 m³ a read
    reading.SettlementFlow = kWaterSettlement;
    reading.Clock = clock;
    return reading;
}

protocol::HeatReading HeatReadingAt(std::uint32_t reads, const protocol::MeterClock& clock) {
    protocol::HeatReading reading;
    reading.SettlementHeat = kHeatSettlement;
    reading.CurrentHeat = kHeatStart + kHeatPerRead * reads;
    reading.HeatPower = 1234 + 10 * (reads % 5);
    reading.FlowRate = 12345 + 100 * (reads % 7);
    reading.CumulativeFlow = 56789 + 37 * reads;
    reading.SupplyTemperature = 6543;
    reading.ReturnTemperature = 4521;
    reading.WorkingHours = 1234 + reads;
    reading.Clock = clock;
    return reading;
}

void AppendBcd(std::vector<std::uint8_t>& data, std::uint64_t value, std::size_t size) {
    data.resize(data.size() + size);
    protocol::PutBcd(value, std::span<std::uint8_t>(data).last(size));
}

// The BCD number of `size` bytes at `at` of the data, or none when they are not there or no BCD.
std::optional<std::uint64_t> BcdAt(const std::vector<std::uint8_t>& data, std::size_t at,
                                   std::size_t size) {
    if (data.size() < at + size)
        return std::nullopt;
    return protocol::BcdValue(std::span<const std::uint8_t>(data).subspan(at, size));
}

std::string Money(std::uint32_t hundredths) {
    return std::to_string(hundredths / 100) + "." + (hundredths % 100 < 10 ? "0" : "") +
           std::to_string(hundredths % 100);
}

std::string ClockText(const protocol::MeterClock& clock) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", clock.Year, clock.Month,
                  clock.Day, clock.Hour, clock.Minute, clock.Second);
    return text;
}

} // namespace

bool IsHeatMeter(std::uint8_t typeCode) {
    return (typeCode & 0xF0) == 0x20;
}

MeterSimulator::MeterSimulator(SimulatorOptions options, Clock clock, std::uint32_t noiseSeed)
    : Options_(std::move(options)), Clock_(std::move(clock)), Noise_(noiseSeed) {
    for (const SimulatedMeterSpec& spec : Options_.Meters)
        Meters_.push_back({protocol::MeterTypeCode(spec.TypePosition).value_or(0x10), spec.Address,
                           spec.Silent, spec.CorruptChecksum});
    Options_.Bursts = std::max<std::size_t>(Options_.Bursts, 1);
}

std::vector<Burst> MeterSimulator::Receive(std::span<const std::uint8_t> bytes) {
    Received_.insert(Received_.end(), bytes.begin(), bytes.end());
    std::vector<Burst> bursts;
    for (;;) {
        const protocol::RequestScan scan = protocol::ScanReadRequest(Received_);
        const auto consumed = Received_.begin() + static_cast<std::ptrdiff_t>(scan.Consumed);
        Meter* meter = scan.Request && !Options_.Silent ? MeterFor(*scan.Request) : nullptr;
        if (meter && meter->Silent)
            meter = nullptr;
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
    Answer answer;
    const auto is = [&request](const protocol::DataIdentifier& id) {
        return protocol::SameIdentifier(request.DataId, id);
    };
    switch (request.Control) {
    case protocol::kControlRead:
        answer = ReadData(meter, request);
        break;
    case protocol::kControlReadAddress:
        // A read-address is no read of the counters: the header is the answer.
        answer = {protocol::kControlReadAddressReply, {}, {}, !is(protocol::kReadAddressId)};
        break;
    case protocol::kControlReadKeyVersion:
        answer = {protocol::kControlReadKeyVersionReply,
                  {meter.KeyVersion},
                  {},
                  !is(protocol::kKeyVersionId)};
        break;
    case protocol::kControlWrite:
        answer = Write(meter, request);
        break;
    case protocol::kControlWriteAddress:
        answer = WriteAddress(meter, request);
        break;
    default:
        answer.Refused = true;
        break;
    }
    if (answer.Refused && answer.Refusal == std::array<std::uint8_t, 2>{})
        answer.Refusal = kRefusedUnknown;

    // The reply comes from the meter's address after the request was taken (a new one after a
    // write of the address).
    protocol::ReplyHeader header;
    header.TypeCode = meter.TypeCode;
    header.Address = meter.Address;
    header.DataId = Options_.SwapIdentifier
                        ? protocol::DataIdentifier{request.DataId[1], request.DataId[0]}
                        : request.DataId;
    header.Sequence = request.Sequence;
    header.Preamble = Options_.Preamble;
    std::vector<std::uint8_t> reply =
        answer.Refused ? protocol::BuildErrorReply(header,
                                                   static_cast<std::uint8_t>(request.Control |
                                                                             protocol::kReplyBit |
                                                                             protocol::kErrorBit),
                                                   answer.Refusal)
                       : protocol::BuildDataReply(header, answer.Control, answer.Data);
    if (Options_.CorruptChecksum || meter.CorruptChecksum)
        ++reply[reply.size() - 2];
    return reply;
}

MeterSimulator::Answer MeterSimulator::ReadData(Meter& meter,
                                                const protocol::ReadRequest& request) {
    const auto is = [&request](const protocol::DataIdentifier& id) {
        return protocol::SameIdentifier(request.DataId, id);
    };
    const bool heat = IsHeatMeter(meter.TypeCode);
    Answer answer{protocol::kControlReadReply, {}, {}, false};
    std::vector<std::uint8_t>& data = answer.Data;
    if (is(protocol::kCurrentDataId)) {
        // The current counters: the reply builders lay them out; their data go after DI SER.
        protocol::ReplyHeader bare;
        bare.Preamble = 0;
        std::vector<std::uint8_t> whole;
        if (heat) {
            protocol::HeatReading reading = HeatReadingAt(meter.Reads, MeterClockOf(meter));
            reading.Status = StatusBytes(meter.ValveClosed);
            whole = protocol::BuildHeatReply(bare, reading);
        } else {
            protocol::WaterReading reading = WaterReadingAt(meter.Reads, MeterClockOf(meter));
            reading.Status = StatusBytes(meter.ValveClosed);
            whole = protocol::BuildWaterReply(bare, reading);
        }
        data.assign(whole.begin() + protocol::kSequenceAt + 1, whole.end() - 2);
        ++meter.Reads;
    } else if (const int month = protocol::HistoryMonthOf(request.DataId)) {
        const auto ago = static_cast<std::uint32_t>(month - 1);
        AppendBcd(data,
                  heat ? kHeatSettlement - kHeatPerMonth * ago
                       : kWaterSettlement - kWaterPerMonth * ago,
                  4);
        data.push_back(heat ? kKilowattHours : kCubicMetres);
    } else if (is(protocol::kPriceTableId)) {
        for (std::size_t step = 0; step < meter.Prices.Steps.size(); ++step) {
            AppendBcd(data, meter.Prices.Prices[step], 3);
            AppendBcd(data, meter.Prices.Steps[step], 3);
        }
        AppendBcd(data, meter.Prices.Prices.back(), 3);
    } else if (is(protocol::kSettlementDayId)) {
        AppendBcd(data, meter.SettlementDay, 1);
    } else if (is(protocol::kReadingDayId)) {
        AppendBcd(data, meter.ReadingDay, 1);
    } else if (is(protocol::kPurchaseRecordId)) {
        AppendBcd(data, meter.PurchaseSequence, 1);
        AppendBcd(data, meter.LastPurchase, 4);
        AppendBcd(data, meter.TotalBought, 4);
        AppendBcd(data, Remaining(meter), 4);
        const auto status = StatusBytes(meter.ValveClosed);
        data.insert(data.end(), status.begin(), status.end());
    } else {
        answer.Refused = true;
    }
    return answer;
}

MeterSimulator::Answer MeterSimulator::Write(Meter& meter, const protocol::ReadRequest& request) {
    const auto is = [&request](const protocol::DataIdentifier& id) {
        return protocol::SameIdentifier(request.DataId, id);
    };
    const std::vector<std::uint8_t>& data = request.Data;
    const auto refuse = [](const std::array<std::uint8_t, 2>& status) {
        return Answer{0, {}, status, true};
    };
    if (Options_.RefuseWrites)
        return refuse(kRefusedWrite);

    if (is(protocol::kValveId)) {
        if (data.size() != 1 ||
            (data[0] != protocol::kValveOpen && data[0] != protocol::kValveClose))
            return refuse(kRefusedData);
        const bool close = data[0] == protocol::kValveClose;
        if (close != meter.ValveClosed) {
            meter.ValveClosed = close;
            Tell(meter, close ? "valve closed" : "valve opened");
        }
    } else if (is(protocol::kSetClockId)) {
        const auto clock =
            data.size() == protocol::kClockSize
                ? protocol::ClockOf(std::span<const std::uint8_t, protocol::kClockSize>(data))
                : std::nullopt;
        if (!clock)
            return refuse(kRefusedData);
        meter.ClockOffset = protocol::SecondsOf(*clock) - protocol::SecondsOf(Clock_());
        Tell(meter, "clock set to " + ClockText(*clock));
    } else if (is(protocol::kSetSettlementDayId) || is(protocol::kSetReadingDayId)) {
        const auto day = data.size() == 1 ? BcdAt(data, 0, 1) : std::nullopt;
        if (!day || *day < 1 || *day > 31)
            return refuse(kRefusedData);
        const bool settlement = is(protocol::kSetSettlementDayId);
        (settlement ? meter.SettlementDay : meter.ReadingDay) = static_cast<std::uint8_t>(*day);
        Tell(meter, std::string(settlement ? "settlement" : "reading") + " day set to " +
                        std::to_string(*day));
    } else if (is(protocol::kSetPriceTableId)) {
        protocol::PriceTable table;
        for (std::size_t i = 0; i < 5; ++i) {
            const auto value = data.size() == 15 ? BcdAt(data, 3 * i, 3) : std::nullopt;
            if (!value)
                return refuse(kRefusedData);
            (i % 2 == 0 ? table.Prices[i / 2] : table.Steps[i / 2]) =
                static_cast<std::uint32_t>(*value);
        }
        meter.Prices = table;
        Tell(meter, "price table set");
    } else if (is(protocol::kPurchaseId)) {
        const auto sequence = data.size() == 5 ? BcdAt(data, 0, 1) : std::nullopt;
        const auto amount = sequence ? BcdAt(data, 1, 4) : std::nullopt;
        if (!amount)
            return refuse(kRefusedData);
        // Each purchase is taken once: its sequence number must be the next one.
        if (*sequence != (meter.PurchaseSequence + 1u) % 100u)
            return refuse(kRefusedPurchase);
        meter.PurchaseSequence = static_cast<std::uint8_t>(*sequence);
        meter.LastPurchase = static_cast<std::uint32_t>(*amount);
        meter.TotalBought += meter.LastPurchase;
        Tell(meter, "purchase " + std::to_string(*sequence) + " of " + Money(meter.LastPurchase) +
                        " taken");
    } else {
        return refuse(kRefusedUnknown);
    }
    // Most meters add the status bytes to a write reply.
    const auto status = StatusBytes(meter.ValveClosed);
    return {protocol::kControlWriteReply, {status.begin(), status.end()}, {}, false};
}

MeterSimulator::Answer MeterSimulator::WriteAddress(Meter& meter,
                                                    const protocol::ReadRequest& request) {
    if (!protocol::SameIdentifier(request.DataId, protocol::kWriteAddressId))
        return {0, {}, kRefusedUnknown, true};
    if (Options_.RefuseWrites)
        return {0, {}, kRefusedWrite, true};
    protocol::LineAddress address{};
    if (request.Data.size() != address.size())
        return {0, {}, kRefusedData, true};
    std::copy(request.Data.begin(), request.Data.end(), address.begin());
    // The wildcard is no meter's address.
    if (std::all_of(address.begin(), address.end(), [](std::uint8_t b) { return b == kWildcard; }))
        return {0, {}, kRefusedData, true};
    const std::string old = protocol::AddressText(meter.Address);
    meter.Address = address;
    Tell(meter, "address changed from " + old);
    return {protocol::kControlWriteAddressReply, {}, {}, false};
}

protocol::MeterClock MeterSimulator::MeterClockOf(const Meter& meter) const {
    return protocol::ClockAt(protocol::SecondsOf(Clock_()) + meter.ClockOffset);
}

std::uint32_t MeterSimulator::Remaining(const Meter& meter) const {
    // What the counters have gone up since the first read, at the first price.
    const std::uint64_t used =
        static_cast<std::uint64_t>(IsHeatMeter(meter.TypeCode) ? kHeatPerRead : kWaterPerRead) *
        meter.Reads;
    const std::uint64_t spent = meter.SpentBefore + used * meter.Prices.Prices[0] / 100;
    return meter.TotalBought > spent ? static_cast<std::uint32_t>(meter.TotalBought - spent) : 0;
}

void MeterSimulator::Tell(const Meter& meter, const std::string& change) const {
    if (Options_.Notice)
        Options_.Notice("meter " + protocol::AddressText(meter.Address) + ": " + change);
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

#include "protocol/meter_reply.h"

#include "util/string_c.h"

#include <algorithm>

namespace mbus::protocol {
namespace {

constexpr std::uint8_t kStart = 0x68;
constexpr std::uint8_t kEnd = 0x16;
constexpr std::uint8_t kControlRead = 0x01;
constexpr std::uint8_t kRequestLength = 0x03;
constexpr std::size_t kRequestSize = 16; // from the start byte to the end byte

// Appends fields to a reply under construction.
class FieldWriter {
public:
    explicit FieldWriter(std::vector<std::uint8_t>& bytes) : Bytes_(bytes) {}

    void Bcd(std::uint64_t value, std::size_t size) {
        const std::size_t at = Bytes_.size();
        Bytes_.resize(at + size);
        PutBcd(value, std::span<std::uint8_t>(Bytes_).subspan(at, size));
    }
    void Byte(std::uint8_t value) { Bytes_.push_back(value); }
    void Clock(const MeterClock& clock) {
        // ss mm hh DD MM YY YY, lowest first: the digits of YYYYMMDDhhmmss in BCD.
        const std::uint64_t digits = static_cast<std::uint64_t>(clock.Year) * 10000000000ull +
                                     static_cast<std::uint64_t>(clock.Month) * 100000000ull +
                                     static_cast<std::uint64_t>(clock.Day) * 1000000ull +
                                     static_cast<std::uint64_t>(clock.Hour) * 10000ull +
                                     static_cast<std::uint64_t>(clock.Minute) * 100ull +
                                     static_cast<std::uint64_t>(clock.Second);
        Bcd(digits, 7);
    }
    void Status(const std::array<std::uint8_t, 2>& status) {
        Bytes_.insert(Bytes_.end(), status.begin(), status.end());
    }

private:
    std::vector<std::uint8_t>& Bytes_;
};

// The reply up to the sequence number; the caller appends the fields, then Finish.
std::vector<std::uint8_t> BeginReply(const ReplyHeader& header, std::uint8_t dataLength) {
    std::vector<std::uint8_t> bytes(header.Preamble, 0xFE);
    bytes.push_back(kStart);
    bytes.push_back(header.TypeCode);
    bytes.insert(bytes.end(), header.Address.begin(), header.Address.end());
    bytes.push_back(kControlReadReply);
    bytes.push_back(dataLength);
    bytes.insert(bytes.end(), header.DataId.begin(), header.DataId.end());
    bytes.push_back(header.Sequence);
    return bytes;
}

void FinishReply(const ReplyHeader& header, std::vector<std::uint8_t>& bytes) {
    const auto summed = std::span<const std::uint8_t>(bytes).subspan(header.Preamble);
    bytes.push_back(util::SumBytes(summed));
    bytes.push_back(kEnd);
}

} // namespace

void PutBcd(std::uint64_t value, std::span<std::uint8_t> out) {
    for (std::uint8_t& byte : out) {
        const auto low = static_cast<std::uint8_t>(value % 10);
        value /= 10;
        const auto high = static_cast<std::uint8_t>(value % 10);
        value /= 10;
        byte = static_cast<std::uint8_t>(high << 4 | low);
    }
}

RequestScan ScanReadRequest(std::span<const std::uint8_t> bytes) {
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        if (bytes[at] != kStart)
            continue;
        if (bytes.size() - at < kRequestSize)
            return {std::nullopt, at}; // may still be completed by bytes to come
        const auto frame = bytes.subspan(at, kRequestSize);
        if (frame[9] != kControlRead || frame[10] != kRequestLength ||
            frame[14] != util::SumBytes(frame.first(14)) || frame[15] != kEnd)
            continue;
        ReadRequest request;
        request.TypeCode = frame[1];
        std::copy(frame.begin() + 2, frame.begin() + 9, request.Address.begin());
        request.DataId = {frame[11], frame[12]};
        request.Sequence = frame[13];
        return {request, at + kRequestSize};
    }
    return {std::nullopt, bytes.size()};
}

std::vector<std::uint8_t> BuildWaterReply(const ReplyHeader& header, const WaterReading& reading) {
    std::vector<std::uint8_t> bytes = BeginReply(header, kWaterDataLength);
    FieldWriter fields(bytes);
    fields.Bcd(reading.CurrentFlow, 4);
    fields.Byte(reading.FlowUnit);
    fields.Bcd(reading.SettlementFlow, 4);
    fields.Byte(reading.FlowUnit);
    fields.Clock(reading.Clock);
    fields.Status(reading.Status);
    FinishReply(header, bytes);
    return bytes;
}

std::vector<std::uint8_t> BuildHeatReply(const ReplyHeader& header, const HeatReading& reading) {
    std::vector<std::uint8_t> bytes = BeginReply(header, kHeatDataLength);
    FieldWriter fields(bytes);
    fields.Bcd(reading.SettlementHeat, 4);
    fields.Byte(reading.HeatUnit);
    fields.Bcd(reading.CurrentHeat, 4);
    fields.Byte(reading.HeatUnit);
    fields.Bcd(reading.HeatPower, 4);
    fields.Byte(reading.PowerUnit);
    fields.Bcd(reading.FlowRate, 4);
    fields.Byte(reading.FlowRateUnit);
    fields.Bcd(reading.CumulativeFlow, 4);
    fields.Byte(reading.FlowUnit);
    fields.Bcd(reading.SupplyTemperature, 3);
    fields.Bcd(reading.ReturnTemperature, 3);
    fields.Bcd(reading.WorkingHours, 3);
    fields.Clock(reading.Clock);
    fields.Status(reading.Status);
    FinishReply(header, bytes);
    return bytes;
}

} // namespace mbus::protocol

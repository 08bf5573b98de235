// The meter's side of the read-data and read-address exchanges: the read-data replies of water
// and gas meters (data length 0x16) and heat meters (0x2E), laid out exactly as the reply decoder
// reads them, and the read-address reply. The simulated meter (`mbus sim`) answers with these
// (it finds the requests with request.h, the reader side's own); tests use them as known-good
// replies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "protocol/bcd.h"
#include "protocol/frame_layout.h"
#include "protocol/meter_clock.h"

namespace mbus::protocol {

// What the reply's fields carry, in the smallest step each shows: quantities with two decimals
// in hundredths, the flow rate in ten-thousandths, the working time in whole hours. Values too
// large for their digits roll over as a meter counter does.
struct WaterReading {
    std::uint32_t CurrentFlow = 0;    // m³ × 100, 6 + 2 digits
    std::uint32_t SettlementFlow = 0; // m³ × 100
    std::uint8_t FlowUnit = 0x2C;     // m³
    MeterClock Clock;
    std::array<std::uint8_t, 2> Status{}; // sent as given
};

struct HeatReading {
    std::uint32_t SettlementHeat = 0;    // kWh × 100, 6 + 2 digits
    std::uint32_t CurrentHeat = 0;       // kWh × 100
    std::uint32_t HeatPower = 0;         // kW × 100
    std::uint32_t FlowRate = 0;          // m³/h × 10000, 4 + 4 digits
    std::uint32_t CumulativeFlow = 0;    // m³ × 100
    std::uint32_t SupplyTemperature = 0; // °C × 100, 4 + 2 digits
    std::uint32_t ReturnTemperature = 0; // °C × 100
    std::uint32_t WorkingHours = 0;      // 6 digits
    std::uint8_t HeatUnit = 0x05;        // kWh
    std::uint8_t PowerUnit = 0x17;       // kW
    std::uint8_t FlowRateUnit = 0x35;    // m³/h
    std::uint8_t FlowUnit = 0x2C;        // m³
    MeterClock Clock;
    std::array<std::uint8_t, 2> Status{};
};

// Who answers: the meter's own type and address, the request's identifier (in the byte order it
// came) and sequence number, and the wake-up bytes to send first.
struct ReplyHeader {
    std::uint8_t TypeCode = 0;
    LineAddress Address{};
    DataIdentifier DataId{0x1F, 0x90};
    std::uint8_t Sequence = 0;
    std::size_t Preamble = 2; // 0xFE bytes
};

// The preamble, 0x68, type, address, 0x81, data length, identifier, sequence, fields, the 8-bit
// sum from 0x68 to the last field byte, 0x16.
std::vector<std::uint8_t> BuildWaterReply(const ReplyHeader& header, const WaterReading& reading);
std::vector<std::uint8_t> BuildHeatReply(const ReplyHeader& header, const HeatReading& reading);

// The preamble, 0x68, type, address, 0x83, length 0x03, identifier, sequence, sum, 0x16: the
// meter's type and address are the answer.
std::vector<std::uint8_t> BuildAddressReply(const ReplyHeader& header);

// The preamble, 0x68, type, address, `control`, data length (3 + the data), identifier,
// sequence, `data`, sum, 0x16: a reply of any other layout (history, prices, days, purchase
// record, key version, write and write-address replies), its data laid out by the caller.
std::vector<std::uint8_t> BuildDataReply(const ReplyHeader& header, std::uint8_t control,
                                         std::span<const std::uint8_t> data);

// The preamble, 0x68, type, address, `control` (with the error bit), data length (1 + the
// status bytes), sequence, `status`, sum, 0x16: the meter refuses the request.
std::vector<std::uint8_t> BuildErrorReply(const ReplyHeader& header, std::uint8_t control,
                                          std::span<const std::uint8_t> status);

} // namespace mbus::protocol

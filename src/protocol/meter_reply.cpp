#include "protocol/meter_reply.h"

#include "util/string_c.h"

#include <algorithm>
#include <cassert>

namespace mbus::protocol {
namespace {

// What goes into one field of a reply.
struct FieldValue {
    std::uint64_t Digits = 0; // a reversed field: its decimal digits, sent as BCD lowest first
    std::span<const std::uint8_t> AsSent; // a field sent as received: its bytes in line order
    std::uint8_t Unit = 0;                // the unit byte, where the layout has one
};

FieldValue Number(std::uint64_t digits, std::uint8_t unit = 0) {
    return {digits, {}, unit};
}

FieldValue Bytes(std::span<const std::uint8_t> asSent) {
    return {0, asSent, 0};
}

// The wake-up bytes, then the message with the fields laid out by `format`, one value per field.
std::vector<std::uint8_t> BuildReply(const ReplyHeader& header, const ReplyFormat& format,
                                     std::span<const FieldValue> values) {
    assert(values.size() == format.Fields.size());
    std::vector<std::uint8_t> bytes(header.Preamble, kWakeUpByte);
    bytes.resize(header.Preamble + MessageSize(format.DataLength));
    const auto message = std::span<std::uint8_t>(bytes).subspan(header.Preamble);

    WriteMessageHead(message, header.TypeCode, header.Address, kControlReadReply, format.DataLength,
                     header.DataId);
    message[kSequenceAt] = header.Sequence;
    const auto fromControl = message.subspan(kControlAt);
    for (std::size_t i = 0; i < format.Fields.size(); ++i) {
        const ReplyField& field = format.Fields[i];
        const auto value = fromControl.subspan(field.Offset, field.Size);
        if (field.Order == ByteOrder::Reversed)
            PutBcd(values[i].Digits, value);
        else
            std::copy_n(values[i].AsSent.begin(), std::min(values[i].AsSent.size(), value.size()),
                        value.begin());
        if (field.Unit == UnitByte::Follows)
            fromControl[field.UnitOffset()] = values[i].Unit;
    }
    WriteMessageTail(message, format.DataLength);
    return bytes;
}

} // namespace

std::vector<std::uint8_t> BuildWaterReply(const ReplyHeader& header, const WaterReading& reading) {
    const FieldValue values[] = {
        Number(reading.CurrentFlow, reading.FlowUnit),
        Number(reading.SettlementFlow, reading.FlowUnit),
        Number(ClockDigits(reading.Clock)),
        Bytes(reading.Status),
    };
    static_assert(std::size(values) == kWaterFields.size());
    return BuildReply(header, kWaterReplyFormat, values);
}

std::vector<std::uint8_t> BuildHeatReply(const ReplyHeader& header, const HeatReading& reading) {
    const FieldValue values[] = {
        Number(reading.SettlementHeat, reading.HeatUnit),
        Number(reading.CurrentHeat, reading.HeatUnit),
        Number(reading.HeatPower, reading.PowerUnit),
        Number(reading.FlowRate, reading.FlowRateUnit),
        Number(reading.CumulativeFlow, reading.FlowUnit),
        Number(reading.SupplyTemperature),
        Number(reading.ReturnTemperature),
        Number(reading.WorkingHours),
        Number(ClockDigits(reading.Clock)),
        Bytes(reading.Status),
    };
    static_assert(std::size(values) == kHeatFields.size());
    return BuildReply(header, kHeatReplyFormat, values);
}

std::vector<std::uint8_t> BuildAddressReply(const ReplyHeader& header) {
    return BuildDataReply(header, kControlReadAddressReply, {});
}

std::vector<std::uint8_t> BuildDataReply(const ReplyHeader& header, std::uint8_t control,
                                         std::span<const std::uint8_t> data) {
    const auto dataLength = static_cast<std::uint8_t>(kRequestDataLength + data.size());
    std::vector<std::uint8_t> bytes(header.Preamble, kWakeUpByte);
    bytes.resize(header.Preamble + MessageSize(dataLength));
    const auto message = std::span<std::uint8_t>(bytes).subspan(header.Preamble);
    WriteMessageHead(message, header.TypeCode, header.Address, control, dataLength, header.DataId);
    message[kSequenceAt] = header.Sequence;
    std::copy(data.begin(), data.end(), message.begin() + kSequenceAt + 1);
    WriteMessageTail(message, dataLength);
    return bytes;
}

std::vector<std::uint8_t> BuildErrorReply(const ReplyHeader& header, std::uint8_t control,
                                          std::span<const std::uint8_t> status) {
    // No identifier: the sequence number stands right after the data length.
    const auto dataLength = static_cast<std::uint8_t>(1 + status.size());
    std::vector<std::uint8_t> bytes(header.Preamble, kWakeUpByte);
    bytes.resize(header.Preamble + MessageSize(dataLength));
    const auto message = std::span<std::uint8_t>(bytes).subspan(header.Preamble);
    message[0] = kStartByte;
    message[kTypeAt] = header.TypeCode;
    std::copy(header.Address.begin(), header.Address.end(), message.begin() + kAddressAt);
    message[kControlAt] = control;
    message[kLengthAt] = dataLength;
    message[kDataIdAt] = header.Sequence;
    std::copy(status.begin(), status.end(), message.begin() + kDataIdAt + 1);
    WriteMessageTail(message, dataLength);
    return bytes;
}

} // namespace mbus::protocol

#include "protocol/meter_reading.h"

#include "protocol/response_decoder.h"
#include "protocol/unit_code.h"

#include <algorithm>

namespace mbus::protocol {

std::string_view BareLabel(const ReplyField& field) {
    std::string_view label = field.Label;
    if (!label.empty() && label.back() == ':')
        label.remove_suffix(1);
    return label;
}

std::optional<MeterReading> ReadMeterReply(std::span<const std::uint8_t> received,
                                           const ReadRequest* request) {
    const auto location = LocateReply(received);
    if (!location)
        return std::nullopt;
    const std::size_t control = location->ControlAt;
    const auto fromControl = received.subspan(control);

    MeterReading reading;
    reading.Format = location->Format;
    if (control >= kControlAt) {
        const auto header = received.subspan(control - kControlAt, kControlAt);
        reading.TypeCode = header[kTypeAt];
        LineAddress address;
        std::copy_n(header.begin() + kAddressAt, kAddressSize, address.begin());
        reading.Address = address;
    }
    for (const ReplyField& field : reading.Format->Fields) {
        FieldReading value{BareLabel(field), FieldValueText(field, fromControl), {}, field.Kind};
        if (field.Unit == UnitByte::Follows)
            value.Unit = UnitOfCode(fromControl[field.UnitOffset()]);
        else
            value.Unit = field.FixedUnit;
        if (field.Kind == FieldKind::Status)
            reading.Status = StatusOf(fromControl.subspan(field.Offset).first<2>());
        reading.Fields.push_back(std::move(value));
    }
    reading.Check = CheckFrame(received, control, request);
    return reading;
}

} // namespace mbus::protocol

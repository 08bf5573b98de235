// A read-data reply taken apart for people and programs that keep readings: the meter's type
// and address from the header, every field of the layout with its value (exactly as the decoded
// line shows it) and its unit, the status in words, and the frame check. The reply is found as
// the decoder finds it, so a chunk gives a reading exactly when it gives a decoded line.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/frame_check.h"
#include "protocol/frame_layout.h"
#include "protocol/meter_status.h"

namespace mbus::protocol {

struct FieldReading {
    std::string_view Label; // the decoded line's label without its colon
    std::string Value;      // as the decoded line shows it
    std::string Unit;       // from the unit byte or the layout; empty for the clock and status
    FieldKind Kind = FieldKind::Quantity;
};

struct MeterReading {
    const ReplyFormat* Format = nullptr;
    std::optional<std::uint8_t> TypeCode; // none when the chunk starts after the header
    std::optional<LineAddress> Address;   // likewise
    std::vector<FieldReading> Fields;     // in layout order, the status included
    MeterStatus Status;
    FrameCheck Check;
};

// The reading of the reply that DecodeReply decodes from `received`, or none. `request` is the
// request it answers (for the address and type checks), or null.
std::optional<MeterReading> ReadMeterReply(std::span<const std::uint8_t> received,
                                           const ReadRequest* request);

// A label without the colon that ends it in the layout tables.
std::string_view BareLabel(const ReplyField& field);

} // namespace mbus::protocol

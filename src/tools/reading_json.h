// The JSON keys that describe a meter's reply beyond its decoded line, shared by `mbus decode`,
// `mbus read` and `mbus address`: the frame check, the meter's address and type, the fields with
// their units and the status in words.
#pragma once

#include <string>

#include "protocol/frame_check.h"
#include "protocol/meter_reading.h"
#include "protocol/read_address.h"

namespace mbus::tools {

// {"complete": bool, "start": bool|null, "checksum": bool|null, "end": bool|null}
std::string CheckJson(const protocol::FrameCheck& check);

// The keys of a decoded reply, each preceded by ", " so they continue an object:
// "check", "address" (14 digits as typed, or null), "type" (the code, or null), "fields"
// ([{"label", "value", "unit": text|null}, ...] in layout order) and "status" ({"raw", "valve",
// "battery"}).
std::string ReadingJsonKeys(const protocol::MeterReading& reading);

// The keys of a read-address reply, likewise: "check", "address", "type".
std::string AddressJsonKeys(const protocol::AddressReply& reply);

// "true", "false" or "null".
std::string JsonBool(const std::optional<bool>& value);

} // namespace mbus::tools

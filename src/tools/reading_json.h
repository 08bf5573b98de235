// The JSON keys that describe a meter's reply beyond its decoded line, shared by `mbus decode`,
// `mbus read` and `mbus address`: the frame check, the meter's address and type, the fields with
// their units and the status in words.
#pragma once

#include <optional>
#include <string>

#include "protocol/frame_check.h"
#include "protocol/parsed_reply.h"

namespace mbus::tools {

// {"complete": bool, "start": bool|null, "checksum": bool|null, "end": bool|null}
std::string CheckJson(const protocol::FrameCheck& check);

// The keys of a reply, each preceded by ", " so they continue an object. A read-data reply:
// "check", "address" (14 digits as typed, or null), "type" (the code, or null), "fields"
// ([{"label", "value", "unit": text|null}, ...] in layout order) and "status" ({"raw", "valve",
// "battery"}). A read-address reply: "check", "address", "type". Any other reply: "check".
std::string ReplyJsonKeys(const protocol::ParsedReply& reply);

// "true", "false" or "null".
std::string JsonBool(const std::optional<bool>& value);

} // namespace mbus::tools

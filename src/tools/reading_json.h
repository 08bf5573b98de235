// The JSON keys that describe a meter's reply beyond its decoded line, shared by `mbus decode`,
// `mbus read`, `mbus address` and the operation subcommands: the frame check, the meter's
// address and type, the fields with their units (and raw bytes) and the status in words.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "protocol/frame_check.h"
#include "protocol/parsed_reply.h"

namespace mbus::tools {

// {"complete": bool, "start": bool|null, "checksum": bool|null, "end": bool|null}
std::string CheckJson(const protocol::FrameCheck& check);

// CheckJson with the comparisons with the request as well: ..., "address_match", "type_match",
// "sequence_match" (each bool|null).
std::string CheckWithMatchesJson(const protocol::FrameCheck& check);

enum class FieldBytes { Left, Shown };

// [{"label", "value", "unit": text|null}, ...] in layout order; with FieldBytes::Shown each
// also has "raw": the value's bytes as hex digits in line order.
std::string FieldsJson(std::span<const protocol::FieldReading> fields, FieldBytes bytes);

// {"raw", "valve", "battery"} of the reply's status bytes, or null when it has none.
std::string StatusJson(const protocol::ParsedReply& reply);

// The reply's address as 14 digits as typed (a JSON string), or null without its header.
std::string AddressJson(const protocol::ParsedReply& reply);

// The keys of a reply, each preceded by ", " so they continue an object. A read-data reply:
// "check", "address" (14 digits as typed, or null), "type" (the code, or null), "fields"
// ([{"label", "value", "unit": text|null}, ...] in layout order) and "status" ({"raw", "valve",
// "battery"}, or null for a layout without status bytes). A read-address reply: "check", "address",
// "type". Any other reply: "check".
std::string ReplyJsonKeys(const protocol::ParsedReply& reply);

// "true", "false" or "null".
std::string JsonBool(const std::optional<bool>& value);

} // namespace mbus::tools

#include "tools/reading_json.h"

#include "tools/json_text.h"

namespace mbus::tools {
namespace {

std::string AddressKey(const protocol::ParsedReply& reply) {
    return ", \"address\": " +
           (reply.Address ? JsonString(protocol::AddressText(*reply.Address)) : "null");
}

std::string TypeKey(const protocol::ParsedReply& reply) {
    return ", \"type\": " + (reply.TypeCode ? std::to_string(*reply.TypeCode) : "null");
}

} // namespace

std::string JsonBool(const std::optional<bool>& value) {
    if (!value)
        return "null";
    return *value ? "true" : "false";
}

std::string CheckJson(const protocol::FrameCheck& check) {
    return "{\"complete\": " + JsonBool(check.Complete) + ", \"start\": " + JsonBool(check.Start) +
           ", \"checksum\": " + JsonBool(check.Checksum) + ", \"end\": " + JsonBool(check.End) +
           "}";
}

std::string ReplyJsonKeys(const protocol::ParsedReply& reply) {
    std::string keys = ", \"check\": " + CheckJson(reply.Check);
    if (reply.Kind == protocol::ReplyKind::ReadAddress)
        return keys + AddressKey(reply) + TypeKey(reply);
    if (!reply.Decoded())
        return keys;
    keys += AddressKey(reply) + TypeKey(reply);
    keys += ", \"fields\": [";
    for (std::size_t i = 0; i < reply.Fields.size(); ++i) {
        const protocol::FieldReading& field = reply.Fields[i];
        keys += i ? ", " : "";
        keys += "{\"label\": " + JsonString(field.Label) +
                ", \"value\": " + JsonString(field.Value) +
                ", \"unit\": " + (field.Unit.empty() ? "null" : JsonString(field.Unit)) + "}";
    }
    keys += "], \"status\": {\"raw\": " + JsonString(reply.Status.Raw) +
            ", \"valve\": " + JsonString(protocol::ValveName(reply.Status.ValveState)) +
            ", \"battery\": " + JsonString(protocol::BatteryName(reply.Status.BatteryState)) + "}";
    return keys;
}

} // namespace mbus::tools

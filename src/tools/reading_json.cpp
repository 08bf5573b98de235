#include "tools/reading_json.h"

#include "tools/json_text.h"

namespace mbus::tools {
namespace {

std::string AddressKey(const protocol::ParsedReply& reply) {
    return ", \"address\": " + AddressJson(reply);
}

std::string TypeKey(const protocol::ParsedReply& reply) {
    return ", \"type\": " + (reply.TypeCode ? std::to_string(*reply.TypeCode) : "null");
}

} // namespace

std::string StatusJson(const protocol::ParsedReply& reply) {
    if (reply.Status.Raw.empty())
        return "null";
    return "{\"raw\": " + JsonString(reply.Status.Raw) +
           ", \"valve\": " + JsonString(protocol::ValveName(reply.Status.ValveState)) +
           ", \"battery\": " + JsonString(protocol::BatteryName(reply.Status.BatteryState)) + "}";
}

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

std::string CheckWithMatchesJson(const protocol::FrameCheck& check) {
    std::string json = CheckJson(check);
    json.pop_back();
    return json + ", \"address_match\": " + JsonBool(check.AddressMatch) +
           ", \"type_match\": " + JsonBool(check.TypeMatch) +
           ", \"sequence_match\": " + JsonBool(check.SequenceMatch) + "}";
}

std::string FieldsJson(std::span<const protocol::FieldReading> fields, FieldBytes bytes) {
    std::string json = "[";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const protocol::FieldReading& field = fields[i];
        json += i ? ", " : "";
        json += "{\"label\": " + JsonString(field.Label) +
                ", \"value\": " + JsonString(field.Value) +
                ", \"unit\": " + (field.Unit.empty() ? "null" : JsonString(field.Unit));
        if (bytes == FieldBytes::Shown)
            json += ", \"raw\": " + JsonString(field.Raw);
        json += "}";
    }
    return json + "]";
}

std::string ReplyJsonKeys(const protocol::ParsedReply& reply) {
    std::string keys = ", \"check\": " + CheckJson(reply.Check);
    if (reply.Kind == protocol::ReplyKind::ReadAddress)
        return keys + AddressKey(reply) + TypeKey(reply);
    if (!reply.Decoded())
        return keys;
    return keys + AddressKey(reply) + TypeKey(reply) +
           ", \"fields\": " + FieldsJson(reply.Fields, FieldBytes::Left) +
           ", \"status\": " + StatusJson(reply);
}

std::string AddressJson(const protocol::ParsedReply& reply) {
    return reply.Address ? JsonString(protocol::AddressText(*reply.Address)) : "null";
}

} // namespace mbus::tools

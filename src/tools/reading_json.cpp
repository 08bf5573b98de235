#include "tools/reading_json.h"

#include "tools/json_text.h"

namespace mbus::tools {

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

std::string ReadingJsonKeys(const protocol::MeterReading& reading) {
    std::string keys = ", \"check\": " + CheckJson(reading.Check);
    keys += ", \"address\": " +
            (reading.Address ? JsonString(protocol::AddressText(*reading.Address)) : "null");
    keys += ", \"type\": " + (reading.TypeCode ? std::to_string(*reading.TypeCode) : "null");
    keys += ", \"fields\": [";
    for (std::size_t i = 0; i < reading.Fields.size(); ++i) {
        const protocol::FieldReading& field = reading.Fields[i];
        keys += i ? ", " : "";
        keys += "{\"label\": " + JsonString(field.Label) +
                ", \"value\": " + JsonString(field.Value) +
                ", \"unit\": " + (field.Unit.empty() ? "null" : JsonString(field.Unit)) + "}";
    }
    keys += "], \"status\": {\"raw\": " + JsonString(reading.Status.Raw) +
            ", \"valve\": " + JsonString(protocol::ValveName(reading.Status.ValveState)) +
            ", \"battery\": " + JsonString(protocol::BatteryName(reading.Status.BatteryState)) +
            "}";
    return keys;
}

std::string AddressJsonKeys(const protocol::AddressReply& reply) {
    return ", \"check\": " + CheckJson(reply.Check) +
           ", \"address\": " + JsonString(protocol::AddressText(reply.Address)) +
           ", \"type\": " + std::to_string(reply.TypeCode);
}

} // namespace mbus::tools

// What the two status bytes of a reply say: the valve (bits 0-1 of the first byte as received)
// and the battery (bit 2), with the raw bytes kept as the decoded line shows them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace mbus::protocol {

enum class Valve { Open, Closed, Abnormal, Unknown };
enum class Battery { Normal, Low };

struct MeterStatus {
    std::string Raw; // four hex digits in the order received, as "状态:" shows them
    Valve ValveState = Valve::Open;
    Battery BatteryState = Battery::Normal;
};

// The status of the two bytes as received: bits 0-1 of the first byte 00 open, 01 closed,
// 11 abnormal (10 is no state the protocol defines); bit 2 set: battery low.
MeterStatus StatusOf(std::span<const std::uint8_t, 2> bytes);

// Names for machine-readable output: "open", "closed", "abnormal", "unknown"; "normal", "low".
std::string_view ValveName(Valve valve);
std::string_view BatteryName(Battery battery);

// Names for people: "开", "关", "异常", "未知"; "正常", "欠压".
std::string_view ValveText(Valve valve);
std::string_view BatteryText(Battery battery);

} // namespace mbus::protocol

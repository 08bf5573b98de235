#include "protocol/meter_status.h"

#include "util/string_c.h"

namespace mbus::protocol {

MeterStatus StatusOf(std::span<const std::uint8_t, 2> bytes) {
    constexpr Valve kValves[] = {Valve::Open, Valve::Closed, Valve::Unknown, Valve::Abnormal};
    MeterStatus status;
    status.Raw = util::RemoveSpaces(util::BytesToHex(bytes));
    status.ValveState = kValves[bytes[0] & 0x03];
    status.BatteryState = (bytes[0] & 0x04) != 0 ? Battery::Low : Battery::Normal;
    return status;
}

std::string_view ValveName(Valve valve) {
    switch (valve) {
    case Valve::Open:
        return "open";
    case Valve::Closed:
        return "closed";
    case Valve::Abnormal:
        return "abnormal";
    case Valve::Unknown:
        break;
    }
    return "unknown";
}

std::string_view BatteryName(Battery battery) {
    return battery == Battery::Low ? "low" : "normal";
}

std::string_view ValveText(Valve valve) {
    switch (valve) {
    case Valve::Open:
        return "开";
    case Valve::Closed:
        return "关";
    case Valve::Abnormal:
        return "异常";
    case Valve::Unknown:
        break;
    }
    return "未知";
}

std::string_view BatteryText(Battery battery) {
    return battery == Battery::Low ? "欠压" : "正常";
}

} // namespace mbus::protocol

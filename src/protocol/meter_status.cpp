#include "protocol/meter_status.h"

#include "util/string_c.h"

#include <iterator>

namespace mbus::protocol {

MeterStatus StatusOf(std::span<const std::uint8_t, 2> bytes) {
    constexpr Valve kValves[] = {Valve::Open, Valve::Closed, Valve::Unknown, Valve::Abnormal};
    MeterStatus status;
    status.Raw = util::RemoveSpaces(util::BytesToHex(bytes));
    status.ValveState = kValves[bytes[0] & 0x03];
    status.BatteryState = (bytes[0] & 0x04) != 0 ? Battery::Low : Battery::Normal;
    return status;
}

namespace {

// Both names of each state, in the order of the enumerations.
struct StateNames {
    std::string_view Name; // for machine-readable output
    std::string_view Text; // for people
};

constexpr StateNames kValveNames[] = {
    {"open", "开"}, {"closed", "关"}, {"abnormal", "异常"}, {"unknown", "未知"}};
constexpr StateNames kBatteryNames[] = {{"normal", "正常"}, {"low", "欠压"}};
static_assert(std::size(kValveNames) == static_cast<std::size_t>(Valve::Unknown) + 1);
static_assert(std::size(kBatteryNames) == static_cast<std::size_t>(Battery::Low) + 1);

const StateNames& NamesOf(Valve valve) {
    return kValveNames[static_cast<std::size_t>(valve)];
}

const StateNames& NamesOf(Battery battery) {
    return kBatteryNames[static_cast<std::size_t>(battery)];
}

} // namespace

std::string_view ValveName(Valve valve) {
    return NamesOf(valve).Name;
}

std::string_view BatteryName(Battery battery) {
    return NamesOf(battery).Name;
}

std::string_view ValveText(Valve valve) {
    return NamesOf(valve).Text;
}

std::string_view BatteryText(Battery battery) {
    return NamesOf(battery).Text;
}

} // namespace mbus::protocol

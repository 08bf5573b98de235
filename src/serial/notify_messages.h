// The window messages that carry the dispatcher's notifications to the port component's hidden
// window. lParam carries the dispatcher's registry handle in its high word and a 16-bit data
// value in its low word.
#pragma once

#include <cstdint>

namespace mbus::serial {

inline constexpr std::uint32_t MsgTriggerAvail = 0x7E01;  // wParam: unread byte count
inline constexpr std::uint32_t MsgTriggerData = 0x7E02;   // wParam: trigger; low word: length
inline constexpr std::uint32_t MsgTriggerTimer = 0x7E03;  // wParam: trigger
inline constexpr std::uint32_t MsgTriggerStatus = 0x7E04; // wParam: trigger; low word: value
inline constexpr std::uint32_t MsgDeferredClose = 0x7E0A; // wParam 0
// The I/O threads ended on a failure the owner did not ask for (the device went away, a read or
// write failed, memory ran out); posted once per dispatcher. wParam: the threads' result code.
inline constexpr std::uint32_t MsgPortLost = 0x7E0B;

inline constexpr std::intptr_t MakeNotifyParam(std::int32_t registryHandle, std::uint32_t data) {
    return static_cast<std::intptr_t>((static_cast<std::uint32_t>(registryHandle) << 16) |
                                      (data & 0xFFFF));
}
inline constexpr std::int32_t NotifyParamHandle(std::intptr_t lParam) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(lParam) >> 16) & 0xFFFF);
}
inline constexpr std::uint16_t NotifyParamData(std::intptr_t lParam) {
    return static_cast<std::uint16_t>(lParam & 0xFFFF);
}

} // namespace mbus::serial

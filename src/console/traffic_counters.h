// The status bar's three traffic counters: bytes received, bytes sent and replies decoded. Each
// is 32-bit unsigned and wraps without notice; panels 1 to 3 show them in decimal.
#pragma once

#include <cstdint>

namespace mbus::console {

extern std::uint32_t RecvCount;   // bytes received (the counts of all data events)
extern std::uint32_t SendCount;   // bytes handed to the port
extern std::uint32_t ParsedCount; // frames the decoder turned into text

// Write the counter's panel of Form1: "接收：", "发送：" or "成功解析：" and the value.
void ShowRecvCount();
void ShowSendCount();
void ShowParsedCount();

} // namespace mbus::console

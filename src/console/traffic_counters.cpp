#include "console/traffic_counters.h"

#include "console/main_window.h"
#include "console/status_bar.h"

namespace mbus::console {

std::uint32_t RecvCount = 0;
std::uint32_t SendCount = 0;
std::uint32_t ParsedCount = 0;

namespace {

void ShowCounter(int panel, const char* label, std::uint32_t value) {
    Form1->sStatusBar1->SetPanelText(panel, QString::fromUtf8(label) + QString::number(value));
}

} // namespace

void ShowRecvCount() {
    ShowCounter(1, "接收：", RecvCount);
}

void ShowSendCount() {
    ShowCounter(2, "发送：", SendCount);
}

void ShowParsedCount() {
    ShowCounter(3, "成功解析：", ParsedCount);
}

} // namespace mbus::console

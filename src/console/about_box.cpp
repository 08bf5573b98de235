#include "console/about_box.h"

#include "console/main_window.h"
#include "console/message_box.h"
#include "util/version.h"

#include <QtGlobal>

namespace mbus::console {

QString AboutText() {
    return QStringLiteral(
               "%1 (mbus-console) %2\n\n"
               "M-Bus 表计测试工具：按 CJ/T 188 协议组成读数据指令，经串口单次或定时发送，"
               "按线路空闲分帧接收应答，以十六进制显示收发数据，并解析水表、燃气表和热量表的"
               "读数据应答。\n\n"
               "Qt %3 (运行 %4)，%5，%6 构建\n\n"
               "本程序是自由软件，按 GNU 通用公共许可证第 3 版或（由您选择）任何更新版本"
               "（GPL-3.0-or-later）发布，不提供任何担保。所链接的 Qt Charts 仅以 GPL 第 3 版"
               "提供，因此本程序的发布版本按 GPL 第 3 版提供；许可证全文见随附的 LICENSE 文件。")
        .arg(QString::fromUtf8(kFormCaption), QString::fromLatin1(util::kVersion),
             QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion()),
             QStringLiteral(MBUS_COMPILER), QStringLiteral(MBUS_BUILD_TYPE));
}

void TForm1::ToolButton2Click(QObject* /*Sender*/) {
    ShowMessageBox(AboutText(), QStringLiteral("关于"), QMessageBox::Information);
}

} // namespace mbus::console

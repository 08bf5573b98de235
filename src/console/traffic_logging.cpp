// The row below the traffic view, left of 自动换行: 帧间隔 (the quiet gap that ends a frame),
// 记录到文件 (the traffic log file) and 时间戳 (read by the traffic view as it writes).
#include "console/console_settings.h"
#include "console/file_dialog.h"
#include "console/main_window.h"
#include "console/message_box.h"
#include "console/traffic_file.h"
#include "console/traffic_log_file.h"
#include "protocol/receive_framing.h"

#include <QCheckBox>
#include <QDateTime>
#include <QSignalBlocker>
#include <QSpinBox>

namespace mbus::console {

void TForm1::edtFrameGapChange(QObject* /*Sender*/) {
    QuietTicks = protocol::QuietTicksOfGap(static_cast<std::uint32_t>(edtFrameGap->value()));
}

void TForm1::ckbLogToFileClick(QObject* /*Sender*/) {
    if (!ckbLogToFile->isChecked()) {
        TrafficLog->Stop();
        return;
    }
    QString folder = StoredLogFolder();
    if (folder.isEmpty()) {
        folder = ChooseFolder(this, QStringLiteral("选择记录文件的文件夹"), UserDocumentsFolder());
        if (folder.isEmpty()) {
            const QSignalBlocker blocker(ckbLogToFile);
            ckbLogToFile->setChecked(false);
            return;
        }
        StoreLogFolder(folder);
    }
    TrafficLog->Start(folder);
    ckbLogToFile->setToolTip(QStringLiteral("记录文件夹：%1").arg(folder));
}

void TForm1::LogTraffic(const char* direction, const std::string& bytes) {
    if (!TrafficLog->Writing() || TrafficLog->Write(direction, bytes, QDateTime::currentDateTime()))
        return;
    // Said once: the log stops and the box goes off, until the user ticks it again.
    {
        const QSignalBlocker blocker(ckbLogToFile);
        ckbLogToFile->setChecked(false);
    }
    ShowMessageBox(QStringLiteral("写入记录文件失败，已停止记录：%1").arg(TrafficLog->Failure()),
                   QStringLiteral("错误"), QMessageBox::Warning);
}

} // namespace mbus::console

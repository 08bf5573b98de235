// The console tells the truth about the line: a meter that goes away under an open port is
// reported and the display follows, a closed port stays closed, and every received byte is shown
// and saved.
#include "meter_session.h"

#include "console/image_button.h"
#include "console/port_map_watch.h"
#include "console/port_reconnect.h"
#include "console/rich_text_view.h"
#include "console/status_bar.h"
#include "console/traffic_counters.h"
#include "console/traffic_file.h"
#include "platform/port_map.h"
#include "serial/com_port.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>

#include <chrono>
#include <csignal>

namespace mbus::console {
namespace {

using namespace std::chrono_literals;

class LineTruthTest : public MeterSession {
protected:
    // Ends the simulated meter the hard way, as a pulled cable does: no goodbye on the line. A
    // killed simulator leaves its COM link behind; it goes here, as the simulator would remove it.
    void KillSim() {
        const auto device = platform::ResolveDeviceName(ComName);
        Sim->Signal(SIGKILL);
        ASSERT_TRUE(Sim->Wait(10s));
        Sim.reset();
        if (device)
            platform::RemovePortLink(std::stoi(ComName.substr(3)), *device);
    }
    // A new simulated meter on the COM number of the first.
    void RestartSim() {
        Sim = std::make_unique<testing::ChildProcess>(std::vector<std::string>{
            testing::ProgramFromEnvironment("MBUS_PROGRAM"), "sim", "--com", ComName.substr(3)});
        const auto line = Sim->ReadLine(10s);
        ASSERT_TRUE(line) << Sim->ReadErrors(1s);
        ASSERT_EQ(line->substr(0, ComName.size() + 1), ComName + " ");
    }
    void ExpectLossShown() {
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_TRUE(Boxes[0].Text.startsWith("串口已断开")) << Boxes[0].Text.toStdString();
        EXPECT_TRUE(Boxes[0].Text.contains("The device is not connected"))
            << Boxes[0].Text.toStdString();
        EXPECT_EQ(Boxes[0].Caption, "错误");
        EXPECT_EQ(Boxes[0].Icon, QMessageBox::Critical);
        EXPECT_FALSE(Form->ComPort->Open());
        EXPECT_EQ(Form->btnComPortEn->text(), "打开串口");
        EXPECT_EQ(Form->btnComPortEn->ImageIndex(), kImagePortClosed);
        EXPECT_EQ(Panel(*Form, 0), "串口状态：关闭");
    }
};

TEST_F(LineTruthTest, AMeterLostMidSessionIsReportedAndTheReopenWorks) {
    StartWithSim();
    OpenPort();
    SendAndWaitForLines(1);
    const auto device = platform::ResolveDeviceName(ComName);
    ASSERT_TRUE(device);
    KillSim();
    ASSERT_TRUE(WaitUntil([&] { return !Boxes.empty(); }));
    ExpectLossShown();
    // The console let go of the device: with the meter gone, nothing holds it any more.
    EXPECT_TRUE(WaitUntil([&] { return !QFile::exists(QString::fromStdString(*device)); }, 3000));

    RestartSim();
    OpenPort();
    SendAndWaitForLines(2);
    EXPECT_EQ(Boxes.size(), 1u);
}

TEST_F(LineTruthTest, AMeterLostDuringTimedSendingStopsIt) {
    StartWithSim();
    OpenPort();
    Form->edtAutoSendInteval->setText("200"); // replies far enough apart to be frames of their own
    Form->ckbAutoSend->setChecked(true);
    ASSERT_TRUE(WaitUntil([] { return ParsedCount >= 2; }));
    KillSim();
    ASSERT_TRUE(WaitUntil([&] { return !Boxes.empty(); }));
    ExpectLossShown();
    EXPECT_FALSE(Form->Timer1->isActive());
    EXPECT_FALSE(Form->ckbAutoSend->isChecked());
    const std::uint32_t sent = SendCount;
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(SendCount, sent);
    EXPECT_EQ(Boxes.size(), 1u);
}

// With 自动重连 ticked a lost meter is waited for without a box, and the port reopens when a
// meter is back on the same COM number: at the baud rate and parity shown, with timed sending
// going on, and without the requests that fell due while the line was away.
TEST_F(LineTruthTest, WithAutoReconnectTimedReadingGoesOnWhenTheMeterIsBack) {
    StartWithSim();
    Form->ckbAutoReconnect->setChecked(true);
    Form->cmbSoftBaut->setCurrentText("9600");
    OpenPort();
    Form->edtAutoSendInteval->setText("400"); // replies far enough apart to be frames of their own
    Form->ckbAutoSend->setChecked(true);
    ASSERT_TRUE(WaitUntil([] { return ParsedCount >= 2; }));
    KillSim();
    // The port list may say first that the port left it; the wait for the line follows.
    ASSERT_TRUE(WaitUntil(
        [&] { return Form->sStatusBar1->Message().startsWith(QStringLiteral("等待串口恢复")); }));
    EXPECT_EQ(Form->sStatusBar1->Message().toStdString(), "等待串口恢复（" + ComName + "）…");
    EXPECT_TRUE(Boxes.empty());
    EXPECT_FALSE(Form->ComPort->Open());
    EXPECT_EQ(Panel(*Form, 0), "串口状态：关闭");
    EXPECT_EQ(Form->btnComPortEn->text(), "关闭串口") << "a press ends the wait";
    EXPECT_TRUE(Form->ckbAutoSend->isChecked());
    const std::uint32_t sent = SendCount;
    const std::uint32_t parsed = ParsedCount;
    WaitUntil([] { return false; }, 1000); // two periods away
    EXPECT_EQ(SendCount, sent) << "nothing is sent while the port is away";

    RestartSim();
    ASSERT_TRUE(WaitUntil([&] { return Form->ComPort->Open(); }));
    EXPECT_EQ(SendCount, sent) << "no request piled up during the wait";
    EXPECT_EQ(Form->sStatusBar1->Message().toStdString(), "已重连（" + ComName + "）");
    EXPECT_EQ(Panel(*Form, 0), "串口状态：打开");
    EXPECT_EQ(Form->ComPort->Baud(), 9600);
    EXPECT_EQ(Form->ComPort->Parity(), serial::pEven);
    ASSERT_TRUE(WaitUntil([&] { return ParsedCount == parsed + 1; }));
    EXPECT_EQ(SendCount, sent + 18) << "one request, one reply";
    ASSERT_TRUE(WaitUntil([&] { return ParsedCount == parsed + 2; }));
    EXPECT_TRUE(Boxes.empty());
}

// A press on the port button (which reads "关闭串口" during the wait) ends the wait: the port
// stays closed when the meter comes back, and timed sending is off.
TEST_F(LineTruthTest, ThePortButtonEndsTheWaitForALostMeter) {
    StartWithSim();
    Form->ckbAutoReconnect->setChecked(true);
    OpenPort();
    SendAndWaitForLines(1);
    KillSim();
    // The port list may say first that the port left it; the wait for the line follows.
    ASSERT_TRUE(WaitUntil(
        [&] { return Form->sStatusBar1->Message().startsWith(QStringLiteral("等待串口恢复")); }));
    Form->btnComPortEn->click();
    EXPECT_EQ(Form->btnComPortEn->text(), "打开串口");
    EXPECT_TRUE(Form->sStatusBar1->Message().isEmpty());
    RestartSim();
    WaitUntil([] { return false; }, 2 * PortMapWatch::kSettleMs + PortReconnect::kRetryMs);
    EXPECT_FALSE(Form->ComPort->Open());
    EXPECT_TRUE(Boxes.empty());
}

// Only the port button opens the port, with the window's settings; what the user closed stays
// closed, and the display reads what the port is.
TEST_F(LineTruthTest, SendsNeverOpenThePortAndTheDisplayFollowsIt) {
    StartWithSim();
    Form->btnSend->click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "错误：串口未打开");
    EXPECT_FALSE(Form->ComPort->Open());
    EXPECT_EQ(Panel(*Form, 0), "串口状态：关闭");

    OpenPort();
    EXPECT_EQ(Form->ComPort->Baud(), 2400);
    EXPECT_EQ(Form->ComPort->Parity(), serial::pEven);
    Form->edtAutoSendInteval->setText("200"); // replies far enough apart to be frames of their own
    Form->ckbAutoSend->setChecked(true);
    ASSERT_TRUE(WaitUntil([] { return ParsedCount >= 1; }));
    Form->btnComPortEn->click();
    EXPECT_FALSE(Form->ComPort->Open());
    const std::uint32_t sent = SendCount;
    WaitUntil([] { return false; }, 300);
    EXPECT_FALSE(Form->ComPort->Open()) << "a timed send opened the port the user closed";
    EXPECT_EQ(SendCount, sent);
    EXPECT_EQ(Boxes.size(), 1u) << "timed sends to a closed port stay silent";
    Form->ckbAutoSend->setChecked(false);

    // A typed baud rate that is no integer closes the port and the display says so.
    OpenPort();
    Form->cmbSoftBaut->setEditText("96x");
    EXPECT_FALSE(Form->ComPort->Open());
    EXPECT_EQ(Form->btnComPortEn->text(), "打开串口");
    EXPECT_EQ(Panel(*Form, 0), "串口状态：关闭");
}

// A heat meter's reply carries its type byte 0x20: the view shows it, the count agrees with the
// view, and the saved file holds every byte.
TEST_F(LineTruthTest, EveryReceivedByteIsShownCountedAndSaved) {
    StartWithSim({"--meter", "4:00000000000001"});
    Form->cmbType->setCurrentIndex(4);
    OpenPort();
    SendAndWaitForLines(1);
    const QStringList pairs = ViewLines(*Form->redtComRechex)[0].split(' ');
    EXPECT_EQ(static_cast<std::uint32_t>(pairs.size()), RecvCount);
    ASSERT_GE(pairs.size(), 5);
    EXPECT_EQ(pairs.mid(0, 5).join(' '), "FE FE 68 20 01");
    EXPECT_EQ(TrafficFileText(), (pairs.join(' ') + "\r\n").toStdString());
}

TEST_F(LineTruthTest, TheDecodeViewFollowsItsNewestLine) {
    StartWithSim();
    OpenPort();
    for (int line = 1; line <= 20; ++line)
        SendAndWaitForLines(line);
    ASSERT_TRUE(WaitUntil([] { return ParsedCount == 20; }));
    const QScrollBar& scrollBar = *Form->redtDecode->verticalScrollBar();
    EXPECT_GT(scrollBar.maximum(), 0);
    EXPECT_EQ(scrollBar.value(), scrollBar.maximum());
}

} // namespace
} // namespace mbus::console

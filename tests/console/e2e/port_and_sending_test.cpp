// Port control and timed sending against the simulated meter.
#include "meter_session.h"

#include "console/image_button.h"
#include "console/rich_text_view.h"
#include "console/traffic_counters.h"
#include "platform/comm_device.h"
#include "serial/com_port.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

namespace mbus::console {
namespace {

using PortAndSendingTest = MeterSession;

TEST_F(PortAndSendingTest, TimedSendingAtOneHundredMillisecondsUntilUnchecked) {
    StartWithSim();
    OpenPort();
    Form->edtAutoSendInteval->setText("100");
    Form->ckbAutoSend->setChecked(true);
    ASSERT_TRUE(Form->Timer1->isActive());
    EXPECT_EQ(Form->Timer1->interval(), 100);
    // The period was read at the click: editing it now changes nothing.
    Form->edtAutoSendInteval->setText("5000");

    ASSERT_TRUE(WaitUntil([] { return SendCount >= 5 * 18; }, 10000)) << SendCount;
    ASSERT_TRUE(WaitUntil([] { return ParsedCount >= 3; }, 10000)) << ParsedCount;
    EXPECT_EQ(Form->Timer1->interval(), 100);
    Form->ckbAutoSend->setChecked(false);
    EXPECT_FALSE(Form->Timer1->isActive());
    const std::uint32_t sent = SendCount;
    EXPECT_EQ(sent % 18, 0u) << "every send hands over the whole request";
    EXPECT_EQ(Panel(*Form, 2), QStringLiteral("发送：%1").arg(sent));
    EXPECT_TRUE(Boxes.empty());

    // A manual send after the stop is the only one: its reply comes with no timed send beside it.
    const std::uint32_t parsed = ParsedCount;
    Form->btnSend->click();
    ASSERT_TRUE(WaitUntil([&] { return ParsedCount > parsed; }));
    EXPECT_EQ(SendCount, sent + 18);
}

TEST_F(PortAndSendingTest, PortInUseShowsTheMessageAndStaysClosed) {
    StartWithSim();
    const platform::CommHandle other = platform::CreateFile(ComName);
    ASSERT_NE(other, platform::INVALID_HANDLE_VALUE);
    Form->btnComPortEn->click();
    platform::CloseHandle(other);

    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "串口已被占用或串口不存在");
    EXPECT_EQ(Boxes[0].Caption, "错误");
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Boxes[0].Buttons, QMessageBox::Ok);
    EXPECT_FALSE(Form->ComPort->Open());
    EXPECT_EQ(Form->btnComPortEn->text(), "打开串口");
    EXPECT_EQ(Panel(*Form, 0), "串口状态：关闭");
}

// Every change of a port setting reopens an open port; a text that is no integer leaves it
// closed, the display says so, and the button opens it again.
TEST_F(PortAndSendingTest, BaudChangesReopenAndABadTextLeavesThePortClosed) {
    StartWithSim();
    OpenPort();
    Form->cmbSoftBaut->setCurrentIndex(Form->cmbSoftBaut->findText("9600"));
    EXPECT_TRUE(Form->ComPort->Open());
    EXPECT_EQ(Form->ComPort->Baud(), 9600);
    EXPECT_EQ(Form->ComPort->Parity(), serial::pEven);

    Form->cmbSoftBaut->setEditText("9600 ");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "'9600 ' is not a valid integer value.");
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_FALSE(Form->ComPort->Open());
    EXPECT_EQ(Form->btnComPortEn->text(), "打开串口");
    EXPECT_EQ(Panel(*Form, 0), "串口状态：关闭");

    Form->cmbSoftBaut->setEditText("4800");
    EXPECT_FALSE(Form->ComPort->Open()) << "a closed port is not reopened by an edit";
    Form->btnComPortEn->click();
    EXPECT_TRUE(Form->ComPort->Open());
    EXPECT_EQ(Form->ComPort->Baud(), 4800);
    EXPECT_EQ(Panel(*Form, 0), "串口状态：打开");
    SendAndWaitForLines(1);
    EXPECT_EQ(Boxes.size(), 1u);
}

} // namespace
} // namespace mbus::console

// Sending: the command text as bytes, the work buffer's limit, the sent-byte counter, and the
// rules of timed sending.
#include "console_test.h"

#include "console/image_button.h"
#include "console/sending.h"
#include "console/traffic_counters.h"
#include "platform/message_window.h"
#include "serial/com_port.h"
#include "serial/port_prompt.h"
#include "support/pty_pair.h"
#include "support/test_platform.h"
#include "support/wait_until.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <optional>
#include <stdexcept>

namespace mbus::console {
namespace {

class SendingTest : public WindowConsoleTest {
protected:
    void OpenLine() {
        Form->cmbSoftPort->setEditText(
            QStringLiteral("COM%1").arg(testing::RegisterTestPort(Line, 3)));
        Form->btnComPortEn->click();
        ASSERT_TRUE(Form->ComPort->Open());
    }

    testing::PtyPair Line;
};

TEST_F(SendingTest, CommandTextGivesTheBytesOfItsHexDigitsWithinTheWorkBuffer) {
    Form->edtCMD->setText("fe fe,68;1 0 7");
    EXPECT_EQ(CommandBytes(), "\xFE\xFE\x68\x10");
    Form->edtCMD->setText("F");
    EXPECT_EQ(CommandBytes(), "");
    Form->edtCMD->setText(QString(20480, QLatin1Char('5')));
    EXPECT_EQ(CommandBytes(), std::string(kSendBufferSize, '\x55'));
    Form->edtCMD->setText(QString(20482, QLatin1Char('5')));
    EXPECT_THROW(CommandBytes(), std::length_error);
}

TEST_F(SendingTest, RefusedSendsShowTheMessageAndTheCounterWraps) {
    OpenLine();
    const QString request = Form->edtCMD->text();
    for (const QString& command : {QString(20482, QLatin1Char('0')), QString(2 * 4097, '0')}) {
        Form->edtCMD->setText(command);
        Form->btnSend->click();
    }
    ASSERT_EQ(Boxes.size(), 2u);
    for (const RecordedBox& box : Boxes) {
        EXPECT_EQ(box.Text, "错误：串口未打开");
        EXPECT_EQ(box.Caption, "错误");
        EXPECT_EQ(box.Icon, QMessageBox::Critical);
    }
    EXPECT_EQ(SendCount, 0u);
    EXPECT_EQ(Panel(*Form, 2), "发送：0");

    SendCount = 4294967290u;
    Form->edtCMD->setText(request);
    Form->btnSend->click();
    EXPECT_EQ(SendCount, 12u);
    EXPECT_EQ(Panel(*Form, 2), "发送：12");
    EXPECT_EQ(Line.ReadFromDevice(18, std::chrono::seconds(5)).size(), 18u)
        << "only the request reached the line";
}

TEST_F(SendingTest, TimedSendingNeedsAPositivePeriodReadAtTheClick) {
    for (const char* period : {"0", "-5"}) {
        Form->edtAutoSendInteval->setText(period);
        Form->ckbAutoSend->setChecked(true);
        EXPECT_FALSE(Form->Timer1->isActive()) << period;
        EXPECT_TRUE(Form->ckbAutoSend->isChecked());
        Form->ckbAutoSend->setChecked(false);
    }
    EXPECT_TRUE(Boxes.empty());

    Form->edtAutoSendInteval->setText("1s");
    Form->ckbAutoSend->setChecked(true);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "'1s' is not a valid integer value.");
    EXPECT_FALSE(Form->Timer1->isActive());
    EXPECT_TRUE(Form->ckbAutoSend->isChecked());
    Form->ckbAutoSend->setChecked(false);

    Form->edtAutoSendInteval->setText(" 0x1F4");
    Form->ckbAutoSend->setChecked(true);
    EXPECT_TRUE(Form->Timer1->isActive());
    EXPECT_EQ(Form->Timer1->interval(), 500);
    Form->ckbAutoSend->setChecked(false);
    EXPECT_FALSE(Form->Timer1->isActive());
}

// A closed port is not opened by a send: timed sends to it send nothing, ask nothing and show
// nothing, and the timer goes on.
TEST_F(SendingTest, TimedSendFailuresAreSilentAndTheTimerGoesOn) {
    int prompts = 0;
    serial::SetPortPrompt([&] {
        ++prompts;
        return std::optional<int>();
    });
    int ticks = 0;
    QObject::connect(Form->Timer1, &QTimer::timeout, [&] { ++ticks; });
    Form->edtAutoSendInteval->setText("10");
    Form->ckbAutoSend->setChecked(true);
    EXPECT_TRUE(WaitUntil([&] { return ticks >= 3; }));
    EXPECT_TRUE(Form->Timer1->isActive());
    EXPECT_EQ(prompts, 0);
    EXPECT_FALSE(Form->ComPort->Open());
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(SendCount, 0u);
    EXPECT_EQ(Panel(*Form, 2), "发送：0");
}

// A command that is not hex text is not sent as something else: a press names the first
// character that is no hex digit, blank or line break; a timed send sends nothing, silently.
TEST_F(SendingTest, ACommandThatIsNotHexTextIsRefused) {
    OpenLine();
    Form->edtCMD->setText("hello world");
    Form->btnSend->click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "发送数据第 1 个字符“h”不是十六进制数字，未发送");
    EXPECT_EQ(Boxes[0].Caption, "错误");
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Critical);

    Form->edtCMD->setText("FE FE\r\n68 1O");
    Form->btnSend->click();
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[1].Text, "发送数据第 12 个字符“O”不是十六进制数字，未发送");

    int ticks = 0;
    QObject::connect(Form->Timer1, &QTimer::timeout, [&] { ++ticks; });
    Form->edtAutoSendInteval->setText("10");
    Form->ckbAutoSend->setChecked(true);
    EXPECT_TRUE(WaitUntil([&] { return ticks >= 3; }));
    Form->ckbAutoSend->setChecked(false);
    EXPECT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(SendCount, 0u);

    // Blanks, line breaks and hex digits of either case are the whole alphabet.
    Form->edtCMD->setText("fe FE\r\n16");
    Form->btnSend->click();
    EXPECT_EQ(SendCount, 3u);
    EXPECT_EQ(Line.ReadFromDevice(3, std::chrono::seconds(5)),
              (std::vector<std::uint8_t>{0xFE, 0xFE, 0x16}));
    EXPECT_EQ(Boxes.size(), 2u);
}

// A close serves messages, so a tick or a press may come while it is in progress: the port takes
// nothing then, and nothing is counted.
TEST_F(SendingTest, SendsDuringACloseAreFailuresNotCounts) {
    OpenLine();
    int duringClose = 0;
    Form->ComPort->SetOnTriggerAvail([&](serial::TComponent*, std::uint16_t) {
        if (Form->ComPort->PortState() != serial::psClosing)
            return;
        ++duringClose;
        Form->Timer1Timer(Form->Timer1);
        Form->btnSendClick(Form->btnSend);
    });
    Line.WriteToDevice({0x68});
    // The notification is waiting for this thread. On Windows other messages end the wait too,
    // and the system queues a sent message inside the send, so that is waited for as well.
    ASSERT_TRUE(platform::WaitForMessage(5000));
    ASSERT_TRUE(testing::WaitFor(testing::SentMessageWaiting));
    Form->btnComPortEn->click();
    ASSERT_EQ(duringClose, 1);
    EXPECT_EQ(SendCount, 0u);
    ASSERT_EQ(Boxes.size(), 1u) << "the press is told, the tick is not";
    EXPECT_EQ(Boxes[0].Text, "错误：串口未打开");
}

} // namespace
} // namespace mbus::console

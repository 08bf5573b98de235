// Port control: how the three lists become the port's settings, the message on a failed open,
// and the display that follows what the console did rather than the port.
#include "console_test.h"

#include "console/image_button.h"
#include "console/readings_log.h"
#include "console/readings_window.h"
#include "console/rich_text_view.h"
#include "serial/com_port.h"
#include "serial/port_prompt.h"
#include "support/bytes.h"
#include "support/pty_pair.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <filesystem>
#include <optional>

namespace mbus::console {
namespace {

class PortControlTest : public WindowConsoleTest {
protected:
    void PressWith(const char* port) {
        Form->cmbSoftPort->setEditText(QString::fromLatin1(port));
        Form->btnComPortEn->click();
    }
};

TEST_F(PortControlTest, PortNumberIsTheTextFromTheFourthCharacterInEightBits) {
    int prompts = 0;
    serial::SetPortPrompt([&] {
        ++prompts;
        return std::optional<int>();
    });
    const std::pair<const char*, int> cases[] = {
        {"COM12", 12}, {"com5", 5}, {"COM300", 44}, {"COM256", 0}};
    for (const auto& [text, number] : cases) {
        PressWith(text);
        EXPECT_EQ(Form->ComPort->ComNumber(), number) << text;
    }
    EXPECT_EQ(prompts, 1) << "only port number 0 asks for a port";
    ASSERT_EQ(Boxes.size(), std::size(cases)) << "none of these ports exists";
    for (const RecordedBox& box : Boxes) {
        EXPECT_EQ(box.Text, "串口已被占用或串口不存在");
        EXPECT_EQ(box.Caption, "错误");
        EXPECT_EQ(box.Icon, QMessageBox::Critical);
    }
    EXPECT_EQ(Form->btnComPortEn->text(), "打开串口");
    EXPECT_EQ(Panel(*Form, 0), "串口状态：关闭");

    Boxes.clear();
    PressWith("COM");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "'' is not a valid integer value.");
    EXPECT_EQ(Boxes[0].Caption, QString::fromUtf8(kFormCaption));
}

#ifndef _WIN32 // the cause comes from the port map's links, which are Linux's
TEST_F(PortControlTest, AFailedOpenSaysTheCauseWhereThePlatformKnowsIt) {
    std::filesystem::create_symlink(Home.Root(), Home.PortsDirectory() / "COM2");
    PressWith("COM2");
    PressWith("COM9"); // no cause known: the message alone
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[0].Text.toStdString(), "串口已被占用或串口不存在\n\nCOM2 -> " +
                                               Home.Root().string() +
                                               " is a folder, not a terminal");
    EXPECT_EQ(Boxes[1].Text, "串口已被占用或串口不存在");
}
#endif

TEST_F(PortControlTest, BadBaudTextStopsAfterThePortNumberAndParityNeedsAnItem) {
    Form->cmbSoftBaut->setEditText("9600 ");
    PressWith("COM7");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "'9600 ' is not a valid integer value.");
    EXPECT_EQ(Form->ComPort->ComNumber(), 7);
    EXPECT_EQ(Form->ComPort->Baud(), 57600) << "the window's setting, untouched";

    Form->cmbSoftBaut->setEditText("$12C0");
    Form->cbbParity->setCurrentIndex(1);
    PressWith("COM7");
    EXPECT_EQ(Form->ComPort->Baud(), 4800);
    EXPECT_EQ(Form->ComPort->Parity(), serial::pOdd);
    Form->cbbParity->setEditText("Ev"); // no item: the parity of the last open stays
    PressWith("COM7");
    EXPECT_EQ(Form->ComPort->Parity(), serial::pOdd);
    Form->cbbParity->setEditText("Space");
    PressWith("COM7");
    EXPECT_EQ(Form->ComPort->Parity(), serial::pSpace);
}

// A send never opens the port: only the button does, with the window's settings, so the display
// and the port always agree.
TEST_F(PortControlTest, ASendToAClosedPortFailsAndLeavesItClosed) {
    testing::PtyPair line;
    const std::string port = "COM" + std::to_string(testing::RegisterTestPort(line, 3));
    PressWith(port.c_str());
    ASSERT_TRUE(Form->ComPort->Open());
    Form->btnComPortEn->click();
    ASSERT_FALSE(Form->ComPort->Open());

    Form->btnSend->click();
    EXPECT_FALSE(Form->ComPort->Open());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "错误：串口未打开");
    EXPECT_EQ(Form->btnComPortEn->text(), "打开串口");
    EXPECT_EQ(Panel(*Form, 0), "串口状态：关闭");
    EXPECT_EQ(Panel(*Form, 2), "发送：0");

    Form->btnComPortEn->click();
    EXPECT_TRUE(Form->ComPort->Open());
    EXPECT_EQ(Form->btnComPortEn->ImageIndex(), kImagePortOpen);
    EXPECT_EQ(Panel(*Form, 0), "串口状态：打开");
    Form->btnSend->click();
    EXPECT_EQ(line.ReadFromDevice(18, std::chrono::seconds(5)).size(), 18u);
    EXPECT_EQ(Panel(*Form, 2), "发送：18");
    EXPECT_EQ(Boxes.size(), 1u);
}

// The port the Select Port dialog gives is the port from then on: 串口号 shows it, without a
// reopen, and the readings log names it.
TEST_F(PortControlTest, APortChosenInTheDialogIsShownAndLogged) {
    testing::PtyPair line;
    const int number = testing::RegisterTestPort(line, 3);
    const QString port = QStringLiteral("COM%1").arg(number);
    serial::SetPortPrompt([number] { return std::optional<int>(number); });
    PressWith("COM0");
    ASSERT_TRUE(Form->ComPort->Open());
    EXPECT_EQ(Form->ComPort->ComNumber(), number);
    EXPECT_EQ(Form->cmbSoftPort->currentText(), port);
    EXPECT_EQ(Form->btnComPortEn->text(), "关闭串口");
    EXPECT_TRUE(Boxes.empty());

    line.WriteToDevice(testing::BytesFromHex(
        "FE FE 68 10 AA AA AA AA AA AA AA 81 16 1F 90 00 34 12 00 00 2C 00 10 00 00 2C 05 04 03 02 "
        "01 24 20 00 00 65 16"));
    const ReadingsLog& log = *Form->findChild<ReadingsWindow*>()->Log;
    ASSERT_TRUE(WaitUntil([&] { return !log.Rows().empty(); }));
    EXPECT_EQ(QString::fromStdString(log.Rows()[0].Row.Port), port);
}

// Enter in 发送数据 and F5 send as 发送 does; Ctrl+O opens and closes the port as its button does.
TEST_F(PortControlTest, KeysSendAndTogglePort) {
    testing::PtyPair line;
    Form->cmbSoftPort->setEditText(QStringLiteral("COM%1").arg(testing::RegisterTestPort(line, 3)));
    Form->show();
    QApplication::setActiveWindow(Form.get());
    QTest::keyClick(Form.get(), Qt::Key_O, Qt::ControlModifier);
    ASSERT_TRUE(Form->ComPort->Open());
    QTest::keyClick(Form->edtCMD, Qt::Key_Return);
    EXPECT_EQ(line.ReadFromDevice(18, std::chrono::seconds(5)).size(), 18u);
    QTest::keyClick(Form.get(), Qt::Key_F5);
    EXPECT_EQ(line.ReadFromDevice(18, std::chrono::seconds(5)).size(), 18u);
    EXPECT_EQ(Panel(*Form, 2), "发送：36");
    QTest::keyClick(Form.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_FALSE(Form->ComPort->Open());
    EXPECT_EQ(Form->btnComPortEn->text(), "打开串口");
    EXPECT_TRUE(Boxes.empty());

    // Tab goes through the port settings, then the command row, as laid out.
    QWidget* const expected[] = {Form->cmbSoftPort,  Form->cmbSoftBaut, Form->cbbParity,
                                 Form->btnComPortEn, Form->edtAddr,     Form->cmbDI,
                                 Form->cmbType,      Form->edtCMD,      Form->ckbAutoSend};
    expected[0]->setFocus(Qt::TabFocusReason);
    for (QWidget* widget : expected) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        EXPECT_TRUE(focus == widget || widget->isAncestorOf(focus))
            << widget->objectName().toStdString() << " expected, "
            << focus->objectName().toStdString() << " has the focus";
        QTest::keyClick(focus, Qt::Key_Tab);
    }
}

// 自动重连 is off at first and remembered between runs.
TEST_F(PortControlTest, AutoReconnectIsRemembered) {
    EXPECT_FALSE(Form->ckbAutoReconnect->isChecked());
    Form->ckbAutoReconnect->setChecked(true);
    Form.reset();
    Form = MakeForm();
    EXPECT_TRUE(Form->ckbAutoReconnect->isChecked());
}

} // namespace
} // namespace mbus::console

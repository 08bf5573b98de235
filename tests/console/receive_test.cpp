// Receiving: the data event, the eleven-tick rule, the traffic view's insertion point, decoding,
// clear and the About box.
#include "console_test.h"

#include "console/frame_analysis.h"
#include "console/frame_reception.h"
#include "console/image_button.h"
#include "console/readings_log.h"
#include "console/rich_text_view.h"
#include "console/traffic_counters.h"
#include "console/traffic_view.h"
#include "platform/message_window.h"
#include "protocol/parsed_reply.h"
#include "serial/com_port.h"
#include "serial/exceptions.h"
#include "support/pty_pair.h"
#include "support/wait_until.h"
#include "util/string_c.h"
#include "util/version.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

namespace mbus::console {
namespace {

// A water meter's read-data reply.
const std::string kReply =
    util::HexToBytes("FE FE 68 10 AA AA AA AA AA AA AA 81 16 1F 90 00 34 12 00 00 2C 00 10 00 00 "
                     "2C 05 04 03 02 01 24 20 00 00 65 16");

class ReceiveTest : public WindowConsoleTest {
protected:
    void SetUp() override {
        WindowConsoleTest::SetUp();
        Form->tmr1->stop(); // the test ticks by hand
    }

    void Receive(const std::string& bytes) {
        for (char byte : bytes)
            protocol::ReceiveByte(RxFrame, byte);
    }
    void Tick(int times) {
        for (int i = 0; i < times; ++i)
            Form->tmr1Timer(Form->tmr1);
    }
    void OpenLine(testing::PtyPair& line) {
        Form->cmbSoftPort->setEditText(
            QStringLiteral("COM%1").arg(testing::RegisterTestPort(line, 3)));
        Form->btnComPortEn->click();
        ASSERT_TRUE(Form->ComPort->Open());
    }
};

TEST_F(ReceiveTest, FrameIsDueAtTheEleventhQuietTickAndLeavesTheAccumulatorFirst) {
    std::vector<bool> pendingWhileShown;
    QObject::connect(Form->redtComRechex, &QPlainTextEdit::textChanged,
                     [&] { pendingWhileShown.push_back(!RxFrame.RecData.empty()); });
    Form->ckbLR->setChecked(false);
    Receive(util::HexToBytes("68 20 10"));
    Tick(10);
    EXPECT_TRUE(Form->redtComRechex->toPlainText().isEmpty());
    Tick(1);
    EXPECT_EQ(Form->redtComRechex->toPlainText(), "68 20 10") << "every byte is shown";
    EXPECT_TRUE(RxFrame.RecData.empty());
    EXPECT_TRUE(RxFrame.RecDone);
    EXPECT_EQ(RxFrame.IdleTicks, 0);

    Receive(util::HexToBytes("16"));
    Tick(5);
    Receive(util::HexToBytes("33"));
    Tick(11);
    EXPECT_EQ(Form->redtComRechex->toPlainText(), "68 20 1016 33");
    EXPECT_EQ(LastLine, 0);
    EXPECT_EQ(LastCol, 13);
    Tick(30);
    EXPECT_EQ(Form->redtComRechex->toPlainText(), "68 20 1016 33");
    EXPECT_EQ(pendingWhileShown, std::vector<bool>(pendingWhileShown.size(), false));
}

TEST_F(ReceiveTest, FramesGoToTheEndThroughWrapsAndRewraps) {
    Form->show();
    const std::string longFrame(120, '\x5A'); // wraps over several display lines
    std::string expected;
    for (int frame = 0; frame < 3; ++frame) {
        Receive(longFrame);
        Tick(11);
        expected += util::TextToHex(longFrame) + "\n";
    }
    RichTextView& view = *Form->redtComRechex;
    EXPECT_EQ(view.toPlainText().toStdString(), expected);
    EXPECT_GT(LastLine, 3) << "display lines, not paragraphs";
    EXPECT_EQ(LastCol, 0);
    EXPECT_EQ(view.LineIndex(LastLine), view.toPlainText().size());
    EXPECT_GT(view.verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());

    const int wideLastLine = LastLine;
    view.resize(300, view.height()); // narrower: every frame wraps anew
    Form->ckbLR->setChecked(false);
    Receive("\x01\x02");
    Tick(11);
    expected += "01 02";
    EXPECT_EQ(view.toPlainText().toStdString(), expected);
    EXPECT_GT(LastLine, wideLastLine);
    EXPECT_EQ(LastCol, 5);

    RxFrame.IdleTicks = 4;
    Receive("\x03");
    RxFrame.IdleTicks = 4;
    Form->sButton1->click();
    EXPECT_TRUE(view.toPlainText().isEmpty());
    EXPECT_EQ(LastLine, 0);
    EXPECT_EQ(LastCol, 0);
    EXPECT_TRUE(RxFrame.RecData.empty());
    EXPECT_EQ(RxFrame.IdleTicks, 4) << "clear leaves the idle count";
    EXPECT_EQ(Panel(*Form, 1), "接收：0");
    EXPECT_EQ(Panel(*Form, 2), "发送：0");
    EXPECT_EQ(Panel(*Form, 3), "成功解析：0");
}

TEST_F(ReceiveTest, LongFramesAreDecodedFromTheirFirst1025Bytes) {
    const std::string filler(1000, '\0');
    AnalyseFrame(kReply + std::string(2000, '\0'));
    EXPECT_EQ(ParsedCount, 1u);
    AnalyseFrame(filler + kReply); // the reply ends past the work buffer
    AnalyseFrame(filler + filler + kReply);
    EXPECT_EQ(ParsedCount, 1u);
    const QStringList decoded = ViewLines(*Form->redtDecode);
    ASSERT_EQ(decoded.size(), 1);
    EXPECT_EQ(decoded[0], "当前累积流量:000012.34;结算日累积流量:000010.00;实时时间:20240102030405;"
                          "状态:0000;");
    EXPECT_EQ(Panel(*Form, 3), "成功解析：1");
}

// A failing ReadChar ends the event: the bytes taken stay, the event is not counted.
// A frame's reply is found once: the decode view and the readings log read the same value.
TEST_F(ReceiveTest, AFrameIsParsedOnceForTheDecodeViewAndTheReadingsLog) {
    ReadingsLog* log = ReadingsLog::Current();
    ASSERT_NE(log, nullptr);
    const std::uint64_t before = protocol::RepliesParsed();
    Receive(kReply);
    Tick(11);
    EXPECT_EQ(protocol::RepliesParsed(), before + 1);
    ASSERT_EQ(ViewLines(*Form->redtDecode).size(), 1);
    ASSERT_EQ(log->Rows().size(), 1u);
    ASSERT_TRUE(log->Rows()[0].Row.Reply);
    EXPECT_EQ(QString::fromStdString(log->Rows()[0].Row.Reply->Line),
              ViewLines(*Form->redtDecode)[0]);
}

TEST_F(ReceiveTest, DataEventTakesCountBytesAndAFailureSkipsTheCount) {
    testing::PtyPair line;
    OpenLine(line);
    line.WriteToDevice({0x68, 0x10, 0x16});
    ASSERT_TRUE(WaitUntil([] { return RecvCount == 3; }));
    EXPECT_EQ(RxFrame.RecData, "\x68\x10\x16");
    EXPECT_EQ(Panel(*Form, 1), "接收：3");

    std::uint16_t announced = 0;
    Form->ComPort->SetOnTriggerAvail(
        [&](serial::TComponent*, std::uint16_t count) { announced = count; });
    line.WriteToDevice({0x01, 0x02});
    ASSERT_TRUE(WaitUntil([&] { return announced == 2; }));
    EXPECT_THROW(Form->ComPortTriggerAvail(nullptr, 5), serial::EBufferIsEmpty);
    EXPECT_EQ(RxFrame.RecData, "\x68\x10\x16\x01\x02");
    EXPECT_EQ(RecvCount, 3u);
}

// tmr1 runs only while a frame may be pending: it stops at the end of a quiet cycle with nothing
// received, the next data event starts it again, and the frame completes as before.
TEST_F(ReceiveTest, IdleTimerRunsOnlyWhileAFrameMayBePending) {
    Form->tmr1->start(); // the real timer this time
    ASSERT_TRUE(WaitUntil([&] { return !Form->tmr1->isActive(); })) << "no pause while idle";
    testing::PtyPair line;
    OpenLine(line);
    line.WriteToDevice({0x68, 0x10, 0x16});
    ASSERT_TRUE(WaitUntil([&] { return Form->tmr1->isActive(); }));
    ASSERT_TRUE(WaitUntil([&] { return !Form->redtComRechex->toPlainText().isEmpty(); }));
    EXPECT_TRUE(Form->redtComRechex->toPlainText().startsWith("68 10 16"));
    ASSERT_TRUE(WaitUntil([&] { return !Form->tmr1->isActive(); }));
    EXPECT_TRUE(RxFrame.RecData.empty());
    EXPECT_TRUE(RxFrame.RecDone);
}

// A notification still on its way when the port closes finds no bytes to take: nothing that did
// not come over the line gets into the frame.
TEST_F(ReceiveTest, DataEventDuringACloseTakesNothing) {
    testing::PtyPair line;
    OpenLine(line);
    line.WriteToDevice({0x68, 0x10, 0x16});
    ASSERT_TRUE(platform::WaitForMessage(5000)); // the notification is waiting for this thread
    Form->btnComPortEn->click();
    ASSERT_FALSE(Form->ComPort->Open());
    EXPECT_EQ(RxFrame.RecData.find('\0'), std::string::npos);
    EXPECT_EQ(RecvCount, RxFrame.RecData.size());
}

TEST_F(ReceiveTest, AboutBoxNamesTheProgramItsVersionAndBuild) {
    Form->ToolButton2->click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Caption, "关于");
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Information);
    // The same version `mbus --version` prints.
    EXPECT_TRUE(Boxes[0].Text.startsWith(QStringLiteral("M-bus测试工具 (mbus-console) %1\n")
                                             .arg(QString::fromLatin1(util::kVersion))));
    EXPECT_TRUE(Boxes[0].Text.contains("CJ/T 188"));
    EXPECT_TRUE(Boxes[0].Text.contains("Qt 6."));
    EXPECT_TRUE(Boxes[0].Text.contains("GPL-3.0-or-later"));
}

} // namespace
} // namespace mbus::console

// One request and its reply through the whole console, and how replies become frames, lines of
// the traffic view and decoded lines.
#include "meter_session.h"

#include "console/frame_reception.h"
#include "console/image_button.h"
#include "console/rich_text_view.h"
#include "console/traffic_counters.h"
#include "serial/com_port.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTextCursor>

namespace mbus::console {
namespace {

using RoadTest = MeterSession;

// The number of hex pairs of a traffic line.
qsizetype Pairs(const QString& line) {
    return line.split(QLatin1Char(' '), Qt::SkipEmptyParts).size();
}

TEST_F(RoadTest, DefaultRequestIsAnsweredShownAndDecoded) {
    StartWithSim();
    OpenPort();
    EXPECT_EQ(Form->ComPort->Baud(), 2400);
    EXPECT_EQ(Form->ComPort->Parity(), serial::pEven);
    EXPECT_EQ(Form->ComPort->DataBits(), 8);
    EXPECT_EQ(Form->ComPort->StopBits(), 1);
    EXPECT_EQ(Form->btnComPortEn->ImageIndex(), kImagePortOpen);
    EXPECT_EQ(Panel(*Form, 0), "串口状态：打开");

    SendAndWaitForLines(1);
    EXPECT_EQ(Panel(*Form, 2), "发送：18");
    const QStringList traffic = ViewLines(*Form->redtComRechex);
    ASSERT_EQ(traffic.size(), 1);
    EXPECT_TRUE(traffic[0].startsWith("FE FE 68 10 ")) << traffic[0].toStdString();
    EXPECT_TRUE(traffic[0].endsWith(" 16")) << traffic[0].toStdString();
    EXPECT_EQ(Panel(*Form, 1), QStringLiteral("接收：%1").arg(Pairs(traffic[0])));
    EXPECT_TRUE(Form->redtComRechex->toPlainText().endsWith('\n'));

    const QStringList decoded = ViewLines(*Form->redtDecode);
    ASSERT_EQ(decoded.size(), 1);
    EXPECT_TRUE(decoded[0].startsWith("当前累积流量:")) << decoded[0].toStdString();
    EXPECT_EQ(Panel(*Form, 3), "成功解析：1");
    EXPECT_TRUE(Boxes.empty());

    Form->btnComPortEn->click();
    EXPECT_FALSE(Form->ComPort->Open());
    EXPECT_EQ(Form->btnComPortEn->text(), "打开串口");
    EXPECT_EQ(Form->btnComPortEn->ImageIndex(), kImagePortClosed);
    EXPECT_EQ(Panel(*Form, 0), "串口状态：关闭");
}

TEST_F(RoadTest, ReplyInThreeBurstsIsOneFrame) {
    StartWithSim({"--split", "3:4"});
    OpenPort();
    SendAndWaitForLines(1);
    ASSERT_TRUE(WaitUntil([] { return ParsedCount == 1; }));
    const QStringList traffic = ViewLines(*Form->redtComRechex);
    ASSERT_EQ(traffic.size(), 1);
    EXPECT_EQ(RecvCount, std::uint32_t(Pairs(traffic[0])));
    EXPECT_EQ(ViewLines(*Form->redtDecode).size(), 1);
}

// Without line breaks the last pair of one frame and the first pair of the next run together.
TEST_F(RoadTest, FramesRunTogetherWhenLineBreaksAreOff) {
    StartWithSim();
    Form->ckbLR->setChecked(false);
    OpenPort();
    Form->btnSend->click();
    ASSERT_TRUE(WaitUntil([] { return ParsedCount == 1; }));
    const QString first = Form->redtComRechex->toPlainText();
    Form->btnSend->click();
    ASSERT_TRUE(WaitUntil([] { return ParsedCount == 2; }));

    const QString text = Form->redtComRechex->toPlainText();
    EXPECT_FALSE(text.contains('\n'));
    EXPECT_TRUE(text.startsWith(first + "FE FE 68 10 ")) << text.toStdString();
    EXPECT_EQ(Form->redtComRechex->document()->blockCount(), 1);
}

// Bytes of the value of a blank (0x20) are shown, counted and decoded like every other byte.
TEST_F(RoadTest, BlankBytesAreShownCountedAndDecoded) {
    StartWithSim({"--meter", "0:20202020202020"});
    OpenPort();
    SendAndWaitForLines(1);
    const QString line = ViewLines(*Form->redtComRechex).value(0);
    EXPECT_TRUE(line.startsWith("FE FE 68 10 20 20 20 20 20 20 20 81 16 1F 90"))
        << line.toStdString();
    EXPECT_EQ(RecvCount, std::uint32_t(Pairs(line)));
    EXPECT_EQ(ParsedCount, 1u);
}

TEST_F(RoadTest, AddressOfOtherThanSevenBytesShowsFramesWithoutDecoding) {
    StartWithSim();
    OpenPort();
    int lines = 0;
    for (const char* address : {"AA AA AA AA AA AA", "AA AA AA AA AA AA AA AA"}) {
        Form->edtAddr->setText(QString::fromLatin1(address));
        SendAndWaitForLines(++lines);
    }
    EXPECT_EQ(ParsedCount, 0u);
    EXPECT_EQ(Panel(*Form, 3), "成功解析:0");
    EXPECT_TRUE(Form->redtDecode->toPlainText().isEmpty());
}

TEST_F(RoadTest, NextFrameGoesToTheEndWhateverTheUserSelected) {
    StartWithSim();
    OpenPort();
    SendAndWaitForLines(1);
    const QString first = Form->redtComRechex->toPlainText();
    QTextCursor selection(Form->redtComRechex->document());
    selection.setPosition(3);
    selection.setPosition(8, QTextCursor::KeepAnchor);
    Form->redtComRechex->setTextCursor(selection);

    SendAndWaitForLines(2);
    const QString text = Form->redtComRechex->toPlainText();
    EXPECT_TRUE(text.startsWith(first)) << text.toStdString();
    EXPECT_EQ(ViewLines(*Form->redtComRechex).size(), 2);
    EXPECT_FALSE(Form->redtComRechex->textCursor().hasSelection());
    EXPECT_EQ(Form->redtComRechex->textCursor().position(), text.size());
}

} // namespace
} // namespace mbus::console

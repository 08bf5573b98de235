// Readings are not lost unasked: 清空记录 asks before it drops the rows, and closing the main
// window with rows not exported asks whether to export them first.
#include "console_test.h"

#include "console/image_button.h"
#include "console/readings_log.h"
#include "console/readings_window.h"
#include "serial/com_port.h"
#include "support/bytes.h"
#include "support/pty_pair.h"

#include <QComboBox>
#include <QPushButton>

namespace mbus::console {
namespace {

class ReadingsGuardTest : public WindowConsoleTest {
protected:
    void SetUp() override {
        WindowConsoleTest::SetUp();
        Form->cmbSoftPort->setEditText(
            QStringLiteral("COM%1").arg(testing::RegisterTestPort(Line, 3)));
        Form->btnComPortEn->click();
        ASSERT_TRUE(Form->ComPort->Open());
        Window = Form->findChild<ReadingsWindow*>();
        ASSERT_NE(Window, nullptr);
    }

    // The meter's reply comes in and becomes a row.
    void ReadOnce() {
        const std::size_t rows = Window->Log->Rows().size();
        Line.WriteToDevice(testing::BytesFromHex(
            "FE FE 68 10 AA AA AA AA AA AA AA 81 16 1F 90 00 34 12 00 00 2C 00 10 00 00 2C 05 "
            "04 03 02 01 24 20 00 00 65 16"));
        ASSERT_TRUE(WaitUntil([&] { return Window->Log->Rows().size() == rows + 1; }));
    }

    // Answers every box with `answer` from now on.
    void Answer(QMessageBox::StandardButton answer) {
        SetMessageBoxHook([this, answer](QMessageBox& box) {
            Boxes.push_back({box.icon(), box.windowTitle(), box.text(), box.standardButtons(),
                             box.textFormat()});
            return answer;
        });
    }

    testing::PtyPair Line;
    ReadingsWindow* Window = nullptr;
};

TEST_F(ReadingsGuardTest, ClearingAsksFirst) {
    ReadOnce();
    ReadOnce();
    Answer(QMessageBox::Cancel);
    Window->btnClearReadings->click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "清空全部 2 条读数记录？清空后不能恢复。");
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Question);
    EXPECT_EQ(Window->Log->Rows().size(), 2u);
    Answer(QMessageBox::Ok);
    Window->btnClearReadings->click();
    EXPECT_TRUE(Window->Log->Rows().empty());
    Window->btnClearReadings->click();
    EXPECT_EQ(Boxes.size(), 2u) << "no row, no question";
}

TEST_F(ReadingsGuardTest, ClosingWithRowsNotExportedAsksToExport) {
    Form->show();
    EXPECT_TRUE(Form->close()) << "no row: nothing to ask";
    EXPECT_TRUE(Boxes.empty());
    Form->show();
    ReadOnce();
    Answer(QMessageBox::Cancel);
    EXPECT_FALSE(Form->close());
    EXPECT_TRUE(Form->isVisible());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "有 1 条读数记录尚未导出。关闭前导出为 CSV 文件吗？");
    EXPECT_EQ(Boxes[0].Buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    Answer(QMessageBox::No);
    EXPECT_TRUE(Form->close());
}

} // namespace
} // namespace mbus::console

// A round of meters (轮抄) from the list pane of the readings window over a simulated line with
// answering, silent and corrupt meters: each row shows what became of its meter, the summary names
// the meters that failed, the readings log gets every reading with its meter's name, a wrong line
// of the list stays out of the round, and timed sending and rounds stop each other.
#include "meter_session.h"

#include "console/exchange_monitor.h"
#include "console/meter_list_pane.h"
#include "console/meter_list_table.h"
#include "console/readings_log.h"
#include "console/readings_window.h"
#include "console/status_bar.h"
#include "console/traffic_counters.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <fstream>

namespace mbus::console {
namespace {

using RoundsTest = MeterSession;

QStringList Column(const QTableWidget& table, int column) {
    QStringList texts;
    for (int row = 0; row < table.rowCount(); ++row)
        texts << (table.item(row, column) ? table.item(row, column)->text() : QString());
    return texts;
}

TEST_F(RoundsTest, ARoundReadsEveryMeterAndNamesThoseThatFailed) {
    // The line's meters, and the engineer's list of them with a line mistyped.
    const std::string line = (Home.Root() / "line.csv").string();
    std::ofstream(line) << "00000000000001,0\n00000000000002,0\n00000000000003,0\n"
                           "00000000000004,0\n00000000000006,0\n";
    const std::string list = (Home.Root() / "list.csv").string();
    std::ofstream(list) << "\xEF\xBB\xBF# 楼栋 3\n"
                           "00000000000001,0,3-101 厨房\n"
                           "00000000000002,冷水水表,\"3-102, 卫生间\"\n"
                           "00000000000003,0x10,3-201 厨房\n"
                           "00000000000004,0,3-202\n"
                           "0000000000005,0,短了一位\n"
                           "00000000000006,0\n";
    StartWithSim({"--meters", line, "--silent-meter", "00000000000003", "--corrupt-meter",
                  "00000000000004"});
    auto* window = Form->findChild<ReadingsWindow*>();
    ASSERT_NE(window, nullptr);
    window->edtReplyTimeout->setValue(300);
    MeterListPane& pane = *window->MeterList;
    const MeterListTable& table = *pane.tblMeterList;

    // The wrong line is named with its field and kept as a row; the others are meters.
    ASSERT_TRUE(pane.LoadList(QString::fromStdString(list)));
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_TRUE(Boxes[0].Text.contains("第 6 行，表地址“0000000000005”"))
        << Boxes[0].Text.toStdString();
    ASSERT_EQ(table.rowCount(), 6);
    EXPECT_EQ(table.Meters().size(), 5u);
    EXPECT_EQ(Column(table, MeterListTable::kNameColumn)[1], "3-102, 卫生间");
    Boxes.clear();

    // Starting the round stops timed sending, with a word.
    OpenPort();
    Form->ckbAutoSend->setChecked(true);
    pane.btnRound->click();
    EXPECT_FALSE(Form->ckbAutoSend->isChecked());
    EXPECT_EQ(Form->sStatusBar1->Message(), "定时发送已停止：轮抄开始");
    EXPECT_EQ(pane.btnRound->text(), "停止");
    ASSERT_TRUE(WaitUntil([&] { return !pane.RoundsRunning(); }, 20000));
    EXPECT_TRUE(Boxes.empty());

    const QStringList results = Column(table, MeterListTable::kResultColumn);
    EXPECT_EQ(results, QStringList({"正确", "正确", "无应答", "校验和错误", "", "正确"}));
    const QStringList good = Column(table, MeterListTable::kGoodColumn);
    const QStringList failed = Column(table, MeterListTable::kFailedColumn);
    EXPECT_EQ(good, QStringList({"1", "1", "", "", "", "1"}));
    EXPECT_EQ(failed, QStringList({"", "", "1", "1", "", ""}));
    const QStringList readings = Column(table, MeterListTable::kReadingColumn);
    EXPECT_TRUE(readings[0].endsWith(" m³")) << readings[0].toStdString();
    EXPECT_TRUE(readings[2].isEmpty());
    EXPECT_FALSE(Column(table, MeterListTable::kGoodTimeColumn)[5].isEmpty());

    const QString summary = pane.lblRoundSummary->text();
    EXPECT_TRUE(summary.contains("3/5 块表应答正确")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("无应答：00000000000003（3-201 厨房）；"))
        << summary.toStdString();
    EXPECT_TRUE(summary.endsWith("校验和错误：00000000000004（3-202）")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("用时 ")) << summary.toStdString();

    // Every read is a row of the readings log, under its meter's name.
    const auto& rows = window->Log->Rows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[1].Row.Name, "3-102, 卫生间");
    EXPECT_EQ(rows[2].Row.Outcome, protocol::Verdict::NoReply);
    EXPECT_EQ(rows[4].Row.Name, "");
    EXPECT_TRUE(rows[4].Row.Reply && rows[4].Row.Reply->Decoded());

    // Rounds every second until timed sending starts, which stops them with a word.
    pane.ckbRoundRepeat->setChecked(true);
    pane.edtRoundPeriod->setValue(1);
    pane.btnRound->click();
    ASSERT_TRUE(WaitUntil([&] { return pane.lblRoundSummary->text().startsWith("第 2 轮"); }));
    Form->ckbAutoSend->setChecked(true);
    EXPECT_FALSE(pane.RoundsRunning());
    EXPECT_EQ(Form->sStatusBar1->Message(), "轮抄已停止：定时发送开始");
    EXPECT_EQ(pane.btnRound->text(), "开始轮抄");
    Form->ckbAutoSend->setChecked(false);
    ASSERT_TRUE(WaitUntil([&] { return !Form->Exchanges->Waiting(); }));
    const std::uint32_t sent = SendCount;
    EXPECT_FALSE(WaitUntil([&] { return SendCount != sent; }, 1500)) << "no round after the stop";
    EXPECT_GE(Column(table, MeterListTable::kGoodColumn)[0].toInt(), 3);
}

} // namespace
} // namespace mbus::console

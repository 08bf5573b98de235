// The readings window against the simulated meter: timed sending fills its table and its trend,
// Ctrl+S exports the rows as CSV, requests without a reply get a row of their own, and the main
// window's clear leaves the rows alone.
#include "meter_session.h"
#include "save_dialog_answer.h"

#include "console/exchange_monitor.h"
#include "console/readings_log.h"
#include "console/readings_table.h"
#include "console/readings_trend.h"
#include "console/readings_window.h"
#include "console/status_bar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QtTest/QTest>

namespace mbus::console {
namespace {

using ReadingsTest = MeterSession;

TEST_F(ReadingsTest, TimedReadsFillTheTableAndTheTrendAndExportAsCsv) {
    StartWithSim({"--meter", "0:12345678901234"});
    const QRect designed = Form->geometry();
    auto* window = Form->findChild<ReadingsWindow*>();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isVisible());
    // The tool-bar button stands after "关于"; Ctrl+R opens the window as well.
    auto* button = Form->sToolBar1->findChild<QToolButton*>("btnReadings");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "读数记录");
    EXPECT_GT(button->x(), Form->ToolButton2->x());
    QApplication::setActiveWindow(Form.get());
    QTest::keyClick(Form.get(), Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(WaitUntil([&] { return window->isVisible(); }));
    EXPECT_TRUE(window->isWindow());
    EXPECT_EQ(Form->geometry(), designed);

    OpenPort();
    Form->edtAddr->setText("12 34 56 78 90 12 34");
    Form->edtAutoSendInteval->setText("150");
    Form->ckbAutoSend->setChecked(true);
    ASSERT_TRUE(WaitUntil([&] { return window->Log->Rows().size() >= 4; }));
    Form->ckbAutoSend->setChecked(false);
    ASSERT_TRUE(WaitUntil([&] { return window->tblReadings->rowCount() >= 4; }));
    const int rows = window->tblReadings->rowCount();

    const ReadingsTable& table = *window->tblReadings;
    EXPECT_EQ(Column(table, "表地址").value(0), "12345678901234");
    EXPECT_EQ(Column(table, "表类型").value(0), "冷水水表");
    EXPECT_EQ(Column(table, "当前累积流量").mid(0, 2),
              (QStringList{"000012.34 m³", "000012.51 m³"}));
    EXPECT_EQ(Column(table, "阀门").value(0), "开");
    EXPECT_EQ(Column(table, "电池").value(0), "正常");
    EXPECT_EQ(Column(table, "帧校验").mid(0, rows - 1), QStringList(rows - 1, "正确"));

    // The trend follows the current flow of that meter, rising by 0.17 m³ a read.
    EXPECT_EQ(window->cmbTrendField->currentText(), "当前累积流量");
    EXPECT_EQ(window->cmbTrendAddress->currentText(), "12345678901234");
    const QList<QPointF> points = window->chtTrend->Points();
    ASSERT_GE(points.size(), 4);
    EXPECT_DOUBLE_EQ(points[0].y(), 12.34);
    for (qsizetype i = 1; i < points.size(); ++i) {
        EXPECT_NEAR(points[i].y() - points[i - 1].y(), 0.17, 1e-9) << i;
        EXPECT_GE(points[i].x(), points[i - 1].x());
    }
    window->cmbTrendField->setCurrentText("结算日累积流量");
    EXPECT_DOUBLE_EQ(window->chtTrend->Points().value(1).y(), 10.0);

    // The main window's clear keeps the rows.
    Form->sButton1->click();
    EXPECT_EQ(window->tblReadings->rowCount(), rows);

    QTemporaryDir folder;
    const QString path = folder.filePath("readings.csv");
    {
        const SaveDialogAnswer answer(path);
        QApplication::setActiveWindow(window);
        QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
        EXPECT_EQ(answer.Suffix, "csv");
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF时间,串口,表地址,表类型代码,当前累积流量,"));
    const QList<QByteArray> lines = bytes.mid(3).split('\n');
    ASSERT_EQ(lines.size(), rows + 2); // header, rows, nothing after the last CR LF
    EXPECT_TRUE(lines[1].contains(",12345678901234,0x10,000012.34,m³,000010.00,m³,"))
        << lines[1].data();
    EXPECT_TRUE(lines[1].contains("0000,开,正常,是,是,")) << lines[1].data();
    EXPECT_TRUE(lines[1].endsWith(",正确\r")) << lines[1].data();
    EXPECT_TRUE(Boxes.empty());

    window->btnClearReadings->click();
    EXPECT_EQ(window->tblReadings->rowCount(), 0);
    EXPECT_TRUE(window->chtTrend->Points().isEmpty());
}

// A request that gets no reply is logged as unanswered once the reply time-out passes, whatever
// was sent meanwhile; the status column and the export say so in the console's words.
TEST_F(ReadingsTest, RequestsWithoutAReplyGetARowOfTheirOwn) {
    StartWithSim({"--meter", "0:12345678901234"});
    auto* window = Form->findChild<ReadingsWindow*>();
    OpenPort();
    Form->edtAddr->setText("00 00 00 00 00 00 09");
    Form->btnSend->click();
    Form->btnSend->click();
    EXPECT_EQ(window->tblReadings->rowCount(), 0);
    ASSERT_TRUE(WaitUntil([&] { return window->tblReadings->rowCount() == 2; },
                          ExchangeMonitor::kDefaultTimeoutMs + 2000));
    const ReadingsTable& table = *window->tblReadings;
    EXPECT_EQ(Column(table, "帧校验"), (QStringList{"无应答", "无应答"}));
    EXPECT_EQ(Column(table, "状态"), (QStringList{"无应答", "无应答"}));
    EXPECT_EQ(Column(table, "表地址"), (QStringList{"00000000000009", "00000000000009"}));
    const std::string csv = window->Log->CsvFileBytes();
    EXPECT_NE(csv.find(",00000000000009,0x10,无应答,,,,,"), std::string::npos) << csv;
    EXPECT_EQ(Form->sStatusBar1->PanelText(4), "无应答");
}

} // namespace
} // namespace mbus::console

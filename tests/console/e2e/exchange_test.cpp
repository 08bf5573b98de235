// Each request meets its own answer in the console, against simulated meters that misbehave as
// lines do: a meter slower than the timed-send period, an echo before the reply, a reply in
// bursts, a wrong checksum, an echo and nothing else, a reply after the time-out. The verdict
// panel, the readings rows and their times, the timestamped traffic lines and the traffic log
// file say what happened.
#include "meter_session.h"

#include "console/exchange_monitor.h"
#include "console/readings_log.h"
#include "console/readings_window.h"
#include "console/rich_text_view.h"
#include "console/status_bar.h"
#include "console/traffic_counters.h"
#include "console/traffic_log_file.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>

namespace mbus::console {
namespace {

using ExchangeTest = MeterSession;

QString Verdict(const TForm1& form) {
    return form.sStatusBar1->PanelText(4);
}

const std::vector<LoggedReading>& Rows(const TForm1& form) {
    return form.findChild<ReadingsWindow*>()->Log->Rows();
}

// Timed sending faster than the meter answers: each request waits for its answer, so every row
// is the answer of its own request, with the meter's real answer time, and nothing was sent
// over an answer.
TEST_F(ExchangeTest, TimedSendingWaitsForEachAnswer) {
    StartWithSim({"--meter", "0:12345678901234", "--delay", "600"});
    OpenPort();
    Form->edtAddr->setText("12 34 56 78 90 12 34");
    Form->edtAutoSendInteval->setText("200");
    Form->ckbAutoSend->setChecked(true);
    ASSERT_TRUE(WaitUntil([&] { return Rows(*Form).size() >= 3; }, 10000));
    Form->ckbAutoSend->setChecked(false);
    ASSERT_TRUE(WaitUntil([&] { return !Form->Exchanges->Waiting(); }, 5000));

    const auto& rows = Rows(*Form);
    for (const LoggedReading& row : rows) {
        EXPECT_EQ(row.Row.Outcome, protocol::Verdict::Good);
        EXPECT_GE(row.Row.ElapsedMs.value_or(0), 600);
    }
    EXPECT_EQ(SendCount, 18u * rows.size()) << "one request per answer";
    EXPECT_TRUE(Verdict(*Form).startsWith("正确 ")) << Verdict(*Form).toStdString();
}

// A reply behind the echo of its request, and a reply in bursts wider than the quiet gap, are
// decoded; the traffic view still shows the frames as they came.
TEST_F(ExchangeTest, EchoAndBurstsAreDecoded) {
    StartWithSim({"--echo", "--split", "3:100"});
    OpenPort();
    Form->btnSend->click();
    ASSERT_TRUE(WaitUntil([] { return ParsedCount == 1; }));
    // Three bursts 100 ms apart: at least two frames, however late the machine serves the ticks.
    EXPECT_GE(ViewLines(*Form->redtComRechex).size(), 2);
    EXPECT_TRUE(Verdict(*Form).startsWith("正确 "));
}

// What the verdict panel says of a bad reply and of an echo alone.
TEST_F(ExchangeTest, VerdictOfABadReply) {
    StartWithSim({"--corrupt-checksum"});
    OpenPort();
    Form->btnSend->click();
    ASSERT_TRUE(WaitUntil([&] { return Verdict(*Form) == "校验和错误"; }));
}

TEST_F(ExchangeTest, VerdictOfAnEchoAlone) {
    StartWithSim({"--echo", "--silent"});
    OpenPort();
    Form->findChild<ReadingsWindow*>()->edtReplyTimeout->setValue(300);
    Form->btnSend->click();
    ASSERT_TRUE(WaitUntil([&] { return Verdict(*Form) == "仅回显"; }));
}

// A reply after the time-out is the late reply of its request: a row with that request's time.
TEST_F(ExchangeTest, ALateReplyIsARowOfItsOwnRequest) {
    StartWithSim({"--delay", "700"});
    OpenPort();
    Form->findChild<ReadingsWindow*>()->edtReplyTimeout->setValue(300);
    Form->btnSend->click();
    ASSERT_TRUE(WaitUntil([&] { return Verdict(*Form) == "无应答"; }));
    ASSERT_TRUE(WaitUntil([&] { return Verdict(*Form) == "迟到应答"; }));
    const auto& rows = Rows(*Form);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].Row.Outcome, protocol::Verdict::Late);
    EXPECT_EQ(rows[1].Time, rows[0].Time) << "the late row names its request's time";
    EXPECT_GE(rows[1].Row.ElapsedMs.value_or(0), 700);
    EXPECT_EQ(ParsedCount, 1u) << "a late reply is decoded all the same";
}

// With 时间戳 the view shows every request and frame on a line of its own, with its time; with
// 记录到文件 each line is in the day's file as soon as it is shown.
TEST_F(ExchangeTest, TimestampedLinesAndTheTrafficLogFile) {
    StartWithSim();
    QTemporaryDir folder;
    QSettings settings(QString::fromStdString((Home.Root() / "mbus-console/console.ini").string()),
                       QSettings::IniFormat);
    settings.setValue("traffic/logFolder", folder.path());
    settings.sync();
    OpenPort();
    Form->ckbTimestamp->setChecked(true);
    Form->ckbLogToFile->setChecked(true);
    SendAndWaitForLines(2);

    const QRegularExpression line(R"(^\[\d\d:\d\d:\d\d\.\d\d\d\] (TX|RX) FE FE 68 10 .* 16$)");
    const QStringList lines = ViewLines(*Form->redtComRechex);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(line.match(lines[0]).hasMatch() && lines[0].contains("] TX "))
        << lines[0].toStdString();
    EXPECT_TRUE(line.match(lines[1]).hasMatch() && lines[1].contains("] RX "))
        << lines[1].toStdString();

    QFile file(QDir(folder.path()).filePath(TrafficLogFile::FileName(QDate::currentDate())));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> logged = file.readAll().split('\n');
    ASSERT_EQ(logged.size(), 3); // two lines, each ending in CR LF
    EXPECT_TRUE(logged[0].contains(" TX FE FE 68 10 AA")) << logged[0].data();
    EXPECT_TRUE(logged[1].endsWith(" 16\r")) << logged[1].data();
    EXPECT_TRUE(Boxes.empty());
}

} // namespace
} // namespace mbus::console

// The meter operations window against the simulated meter: writes ask first and change the
// meter (the valve shows in the next reading, the clock is set with the offset it corrects, a
// new address is read back into both windows), the meter's refusals show as such, reads other
// than the current counters stay out of the readings log, and nothing goes out on a closed port
// or over timed sending.
#include "meter_session.h"

#include "console/operations_window.h"
#include "console/readings_log.h"
#include "console/readings_window.h"
#include "console/traffic_counters.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>

#include <chrono>

namespace mbus::console {
namespace {

using namespace std::chrono_literals;

class OperationsTest : public MeterSession {
protected:
    // Opens the operations window with its tool-bar button.
    OperationsWindow& Window() {
        auto* window = Form->findChild<OperationsWindow*>();
        EXPECT_NE(window, nullptr);
        if (!window->isVisible())
            Form->sToolBar1->findChild<QToolButton*>("btnOperations")->click();
        EXPECT_TRUE(window->isVisible());
        return *window;
    }

    // The results table's column `header`, row by row.
    QStringList Column(const QString& header) {
        return console::Column(*Window().tblResults, header);
    }

    // Presses `button` and waits until the window has shown the answer of `operation`; gives
    // the value of each item of it ("项目" -> "数值"), with the outcome under "结果".
    std::map<QString, QString> Run(QPushButton* button, const QString& operation) {
        const int before = Window().tblResults->rowCount();
        button->click();
        EXPECT_TRUE(WaitUntil([&] { return Column("操作").mid(before).contains(operation); }))
            << operation.toStdString();
        EXPECT_TRUE(WaitUntil([&] { return !Window().Sequence->Busy(); }));
        QCoreApplication::processEvents(); // lines a step adds after its answer
        std::map<QString, QString> answer;
        const QStringList operations = Column("操作");
        const QStringList items = Column("项目");
        const QStringList values = Column("数值");
        const int first = static_cast<int>(operations.lastIndexOf(operation));
        if (first < 0)
            return answer;
        answer["结果"] = Column("结果")[first];
        for (int row = first; row < operations.size(); ++row) {
            if (row > first && !operations[row].isEmpty())
                break;
            answer[items[row]] = values[row];
        }
        return answer;
    }

    const std::vector<LoggedReading>& Readings() {
        return Form->findChild<ReadingsWindow*>()->Log->Rows();
    }
};

TEST_F(OperationsTest, ValveClockAddressAndRefusals) {
    StartWithSim({"--meter", "0:12345678901234"});
    // The meter's clock is put far behind this computer's before the console opens the port.
    testing::ChildProcess setTime({testing::ProgramFromEnvironment("MBUS_PROGRAM"), "set-time",
                                   "--port", ComName, "--addr", "12345678901234", "--time",
                                   "20200101000000"});
    ASSERT_EQ(setTime.Wait(10s), 0) << setTime.ReadErrors(1s);
    Form->edtAddr->setText("12 34 56 78 90 12 34");
    OperationsWindow& window = Window();
    EXPECT_EQ(window.edtMeterAddress->text(), "12 34 56 78 90 12 34");
    EXPECT_EQ(window.cmbMeterType->currentText(), "冷水水表");

    // A closed port: said, nothing sent.
    window.btnReadCurrent->click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_TRUE(Boxes[0].Text.startsWith("串口未打开")) << Boxes[0].Text.toStdString();
    EXPECT_EQ(SendCount, 0u);
    Boxes.clear();

    OpenPort();
    // Timed sending on: said, nothing of the operation sent.
    Form->ckbAutoSend->setChecked(true);
    window.btnCloseValve->click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_TRUE(Boxes[0].Text.contains("定时发送")) << Boxes[0].Text.toStdString();
    Form->ckbAutoSend->setChecked(false);
    EXPECT_FALSE(window.Sequence->Busy());
    Boxes.clear();

    // Closing the valve asks, names meter and change, and the next reading shows it closed.
    auto answer = Run(window.btnCloseValve, "关阀");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "关闭表 12345678901234（冷水水表）的阀门？");
    EXPECT_EQ(Boxes[0].Buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(answer["结果"], "已执行");
    EXPECT_EQ(answer["状态"], "0100（阀门 关，电池 正常）");
    const std::size_t rowsBefore = Readings().size();
    answer = Run(window.btnReadCurrent, "读当前数据");
    EXPECT_EQ(answer["结果"], "正确");
    EXPECT_EQ(answer["当前累积流量"].right(3), " m³");
    ASSERT_EQ(Readings().size(), rowsBefore + 1) << "a reading of the current counters is logged";
    ASSERT_TRUE(Readings().back().Row.Reply);
    EXPECT_EQ(Readings().back().Row.Reply->Status.ValveState, protocol::Valve::Closed);

    // Setting the clock reads it first and shows the offset it corrects.
    Boxes.clear();
    answer = Run(window.btnSetClock, "校时");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_TRUE(Boxes[0].Text.contains("表时钟 2020-01-01 ")) << Boxes[0].Text.toStdString();
    EXPECT_EQ(answer["结果"], "已执行");
    EXPECT_TRUE(answer["校正偏差"].startsWith("表慢 ")) << answer["校正偏差"].toStdString();
    answer = Run(window.btnReadCurrent, "读当前数据");
    const QDateTime meterClock =
        QDateTime::fromString(answer["实时时间"], QStringLiteral("yyyyMMddHHmmss"));
    ASSERT_TRUE(meterClock.isValid()) << answer["实时时间"].toStdString();
    EXPECT_LT(std::abs(meterClock.secsTo(QDateTime::currentDateTime())), 120)
        << "the meter keeps this computer's time now";

    // Past months, prices, days and the purchase record decode with units, and are no readings.
    const std::size_t readings = Readings().size();
    window.cmbHistoryMonth->setCurrentIndex(window.cmbHistoryMonth->count() - 1); // all twelve
    answer = Run(window.btnReadHistory, "读历史数据（上12月）");
    EXPECT_EQ(Column("操作").filter("读历史数据").size(), 12);
    EXPECT_TRUE(answer["上12月结算日累积量"].endsWith(" m³"));
    EXPECT_TRUE(Run(window.btnReadPrices, "读价格表")["价格1"].endsWith(" 元/m³"));
    EXPECT_EQ(Run(window.btnReadSettlementDay, "读结算日")["结算日"], "01 日");
    EXPECT_TRUE(Run(window.btnReadPurchase, "读购入记录")["剩余金额"].endsWith(" 元"));
    EXPECT_EQ(Run(window.btnReadKeyVersion, "读密钥版本")["密钥版本"], "01");
    // An identifier the meter does not know: refused, with its status bytes.
    window.edtDataId->setText("12 34");
    answer = Run(window.btnReadDataId, "读标识 12 34");
    EXPECT_EQ(answer["结果"], "表拒绝");
    EXPECT_EQ(answer["状态字节"], "01 00");
    EXPECT_EQ(Readings().size(), readings);

    // A new address, read back into both windows.
    Boxes.clear();
    window.edtNewAddress->setText("00 00 00 00 00 00 02");
    EXPECT_EQ(Run(window.btnSetAddress, "设置地址")["结果"], "已执行");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "把表 12345678901234（冷水水表）的地址改为 00000000000002？");
    Form->edtAddr->setText("AA AA AA AA AA AA AA");
    answer = Run(window.btnReadAddress, "读表地址");
    EXPECT_EQ(answer["表地址"], "00000000000002");
    EXPECT_EQ(Form->edtAddr->text(), "00 00 00 00 00 00 02");
    EXPECT_EQ(window.edtMeterAddress->text(), "00 00 00 00 00 00 02");
    EXPECT_EQ(Readings().size(), readings);
}

TEST_F(OperationsTest, ARefusedWriteIsShownAsRefused) {
    StartWithSim({"--refuse-writes"});
    OpenPort();
    OperationsWindow& window = Window();
    window.edtSettlementDay->setValue(15);
    const auto answer = Run(window.btnSetSettlementDay, "设置结算日（15 日）");
    EXPECT_EQ(answer.at("结果"), "表拒绝");
    EXPECT_EQ(answer.at("状态字节"), "04 00");
    EXPECT_TRUE(Readings().empty());
}

} // namespace
} // namespace mbus::console

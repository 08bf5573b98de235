// 串口号 follows the port map while the console runs: a simulated meter started after the window
// is up appears in the list, and leaves it when it is killed, without a restart; the text the
// user chose stays as it is.
#include "console_test.h"

#include "support/running_sim.h"

#include <QComboBox>

#include <csignal>

namespace mbus::console {
namespace {

using LivePortListTest = PortConsoleTest;

TEST_F(LivePortListTest, AMeterStartedLaterAppearsAndLeavesAroundTheChosenText) {
    Home.AddFakePort(9);
    const auto form = MakeForm();
    form->show();
    ASSERT_EQ(form->cmbSoftPort->currentText(), "COM9");
    form->cmbSoftPort->setEditText("COM12"); // a port that is not there: the text is the user's
    const auto items = [&] {
        QStringList texts;
        for (int i = 0; i < form->cmbSoftPort->count(); ++i)
            texts << form->cmbSoftPort->itemText(i);
        return texts;
    };

    auto sim = std::make_unique<testing::RunningSim>(std::vector<std::string>{});
    ASSERT_EQ(sim->ComName, "COM1");
    EXPECT_TRUE(WaitUntil(
        [&] {
            return items() == QStringList({"COM1", "COM9"});
        },
        1000))
        << items().join(' ').toStdString();
    EXPECT_EQ(form->cmbSoftPort->itemData(0, Qt::ToolTipRole).toString().toStdString(),
              sim->DevicePath);
    EXPECT_EQ(form->cmbSoftPort->currentText(), "COM12");

    // Killed outright, as a pulled adapter goes: its link stays behind, its terminal goes.
    sim->Stop(SIGKILL);
    sim.reset();
    EXPECT_TRUE(WaitUntil([&] { return items() == QStringList({"COM9"}); }, 1000))
        << items().join(' ').toStdString();
    EXPECT_EQ(form->cmbSoftPort->currentText(), "COM12");
    EXPECT_TRUE(Boxes.empty());
}

} // namespace
} // namespace mbus::console

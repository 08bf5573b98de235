#include "console_test.h"

#include "console/serial_port_list.h"
#include "console/status_bar.h"
#include "platform/port_map.h"
#include "support/pty_pair.h"

#include <QComboBox>
#include <QLineEdit>

#include <filesystem>
#include <fstream>

namespace mbus::console {
namespace {

QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

QStringList DesignedPorts() {
    QStringList ports;
    for (int i = 1; i <= 20; ++i)
        ports << QStringLiteral("COM%1").arg(i);
    return ports;
}

using SerialPortListTest = ConsoleTest;

TEST_F(SerialPortListTest, PortsAreSortedAsTextAndReplaceTheDesignedItems) {
    const std::string com3 = Home.AddFakePort(3);
    Home.AddFakePort(10);
    Home.AddFakePort(1);
    EXPECT_EQ(ListSerialPorts(), QStringList({"COM1", "COM10", "COM3"}));

    const auto form = MakeForm();
    EXPECT_EQ(PortList, QStringList({"COM1", "COM10", "COM3"}));
    EXPECT_EQ(Items(form->cmbSoftPort), QStringList({"COM1", "COM10", "COM3"}));
    EXPECT_EQ(form->cmbSoftPort->currentText(), "COM1");
    // Each port shows the device it stands for.
    EXPECT_EQ(form->cmbSoftPort->itemData(2, Qt::ToolTipRole).toString().toStdString(), com3);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(SerialPortListTest, ASinglePortIsTheOnlyItem) {
    Home.AddFakePort(7);
    const auto form = MakeForm();
    EXPECT_EQ(Items(form->cmbSoftPort), QStringList({"COM7"}));
    EXPECT_EQ(form->cmbSoftPort->currentText(), "COM7");
}

// Without any port the window comes up with the designed items, says so in the list's tool tip
// and points to the port map in the status bar. A missing port list is reported by a message only
// where the platform keeps such a list (Windows); Linux's port map is just empty.
TEST_F(SerialPortListTest, WithoutAnyPortTheDesignedItemsAndAHint) {
    const auto form = MakeForm();
    if (platform::NoPortListIsAnError()) {
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_EQ(Boxes[0].Text, "打开串口列表的注册表项出错");
        EXPECT_EQ(Boxes[0].Caption, "M-bus测试工具");
        EXPECT_EQ(Boxes[0].Icon, QMessageBox::NoIcon);
        EXPECT_EQ(Boxes[0].Buttons, QMessageBox::Ok);
    } else {
        EXPECT_TRUE(Boxes.empty());
    }
    EXPECT_TRUE(PortList.isEmpty());
    EXPECT_EQ(Items(form->cmbSoftPort), DesignedPorts());
    EXPECT_EQ(form->cmbSoftPort->currentText(), "COM1");
    EXPECT_EQ(form->cmbSoftPort->toolTip(), "未找到串口");
    EXPECT_TRUE(form->sStatusBar1->Message().startsWith("未找到串口"))
        << form->sStatusBar1->Message().toStdString();
    EXPECT_TRUE(form->sStatusBar1->Message().contains("README"));
    EXPECT_EQ(form->edtCMD->text(), "FE FE 68 10 AA AA AA AA AA AA AA 01 03 1F 90 00 D1 16 ")
        << "start-up goes on";
}

#ifndef _WIN32 // the long value name is a device path behind a port map link, Linux's
TEST_F(SerialPortListTest, AValueThatCannotBeReadStopsTheListWithAMessage) {
    // COM2's value name (its device path) does not fit the 256-character buffer.
    Home.AddFakePort(1);
    const std::filesystem::path deep = Home.Root() / std::string(120, 'd') / std::string(120, 'e');
    std::filesystem::create_directories(deep);
    const std::filesystem::path device = deep / std::string(60, 'f');
    const mbus::testing::PtyPair pty; // the map lists links to terminals only
    std::filesystem::create_symlink(pty.SlavePath(), device);
    std::filesystem::create_symlink(device, Home.PortsDirectory() / "COM2");
    Home.AddFakePort(3);

    EXPECT_EQ(ListSerialPorts(), QStringList({"COM1"}));
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "打开串口列表的注册表项出错");
}
#endif

} // namespace
} // namespace mbus::console

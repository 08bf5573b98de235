#include "serial_ui/com_select_form.h"
#include "serial_ui_test.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <filesystem>

namespace mbus::serial_ui {
namespace {

using ComSelectFormTest = SerialUiTest;

#ifndef _WIN32 // these need ports of the numbers they name (AddPort)
TEST_F(ComSelectFormTest, ListsExistingPortsInOrderAndSelectsTheFirst) {
    AddPort(3);
    AddPort(1);
    TComSelectForm form;
    EXPECT_EQ(Entries(form), QStringList({"COM1", "COM3"}));
    EXPECT_EQ(form.PortsComboBox->currentText(), "COM1");
    EXPECT_EQ(form.SelectedPort(), 1);

    form.PortsComboBox->setCurrentIndex(1);
    EXPECT_EQ(form.SelectedPort(), 3);
}

TEST_F(ComSelectFormTest, OffersOnlyPortsUpToFiftyWhoseDeviceIsThere) {
    AddPort(50);
    AddPort(51);
    AddPort(60);
    Home.AddDanglingLink(2);
    Home.AddLinkToFile(4); // a plain file, not a device
    TComSelectForm form;
    EXPECT_EQ(Entries(form), QStringList({"COM50"}));
    EXPECT_EQ(form.SelectedPort(), 50);
}
#endif

TEST_F(ComSelectFormTest, WithoutPortsNothingIsSelected) {
    TComSelectForm form;
    EXPECT_EQ(form.PortsComboBox->count(), 0);
    EXPECT_EQ(form.SelectedPort(), std::nullopt);
}

#ifndef _WIN32 // needs ports of the numbers it names (AddPort)
// The bare name "COM0" is no COM name for the port map, so a probe would look for a file of that
// name in the working folder; port 0 must not exist even when one is there.
TEST_F(ComSelectFormTest, PortZeroNeverExists) {
    AddPort(0);
    AddPort(1);
    const auto workingFolder = std::filesystem::current_path();
    std::filesystem::current_path(Home.PortsDirectory());
    EXPECT_FALSE(TComSelectForm::PortExists(0));
    EXPECT_TRUE(TComSelectForm::PortExists(1));
    std::filesystem::current_path(workingFolder);
}
#endif

TEST_F(ComSelectFormTest, LooksAsDesigned) {
    TComSelectForm form;
    EXPECT_EQ(form.objectName(), "ComSelectForm");
    EXPECT_EQ(form.windowTitle(), "Select Port");
    EXPECT_EQ(form.size(), QSize(220, 131));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowFlags() &
                 (Qt::WindowMinMaxButtonsHint | Qt::WindowContextHelpButtonHint));
    EXPECT_LE((form.geometry().center() - form.screen()->geometry().center()).manhattanLength(), 1);
    EXPECT_EQ(form.font().pixelSize(), 11);

    for (const auto* name : {"Label1", "Label2"}) {
        const auto* label = form.findChild<QLabel*>(name);
        ASSERT_NE(label, nullptr) << name;
        EXPECT_GE(label->width(), label->sizeHint().width()) << name << ": the whole text shows";
    }
    EXPECT_EQ(form.Label1->text(), "The configured serial port is not valid.");
    EXPECT_EQ(form.Label2->text(), "Please choose another port.");

    const auto* ok = form.findChild<QPushButton*>("OkBtn");
    const auto* abort = form.findChild<QPushButton*>("AbortBtn");
    const auto* ports = form.findChild<QComboBox*>("PortsComboBox");
    ASSERT_TRUE(ok && abort && ports && form.findChild<QWidget*>("Bevel1"));
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(abort->text(), "Cancel");
    EXPECT_FALSE(ports->isEditable());
}

} // namespace
} // namespace mbus::serial_ui

#include "serial_ui_test.h"

#include <QApplication>
#include <QComboBox>

#include <filesystem>
#include <string>

namespace mbus::serial_ui {

#ifndef _WIN32
void SerialUiTest::AddPort(int number) {
    Ports_.push_back(std::make_unique<mbus::testing::PtyPair>());
    std::filesystem::create_symlink(Ports_.back()->SlavePath(),
                                    Home.PortsDirectory() / ("COM" + std::to_string(number)));
}
#endif

QStringList SerialUiTest::Entries(const TComSelectForm& form) {
    QStringList entries;
    for (int i = 0; i < form.PortsComboBox->count(); ++i)
        entries << form.PortsComboBox->itemText(i);
    return entries;
}

} // namespace mbus::serial_ui

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

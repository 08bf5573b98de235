// Fixture of the console tests (the test program's main() makes the application object): a
// throw-away ports folder (discovery off, so no real port is ever listed) and a message box hook
// that records every box the console shows and answers it with OK, so no test waits for a user.
#pragma once

#include "console/main_window.h"
#include "console/message_box.h"
#include "temp_config_home.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QString>

#include <memory>
#include <vector>

namespace mbus::console {

struct RecordedBox {
    QMessageBox::Icon Icon;
    QString Caption;
    QString Text;
    QMessageBox::StandardButtons Buttons;
    Qt::TextFormat Format;
};

class ConsoleTest : public ::testing::Test {
protected:
    ConsoleTest();
    ~ConsoleTest() override;

    // The main window as start-up makes it: created, FormCreate run, not shown.
    std::unique_ptr<TForm1> MakeForm();

    mbus::testing::TempConfigHome Home;
    std::vector<RecordedBox> Boxes;

private:
    MessageBoxHook SavedHook_;
};

} // namespace mbus::console

// Fixtures of the console tests (the test program's main() makes the application object): a
// throw-away ports folder (discovery off, so no real port is ever listed) and a message box hook
// that records every box the console shows and answers it with OK, so no test waits for a user.
// PortConsoleTest adds what a window with an open port needs at start-up, WindowConsoleTest the
// window itself.
#pragma once

#include "console/application_error_reporter.h"
#include "console/gui_message_pump.h"
#include "console/main_window.h"
#include "console/message_box.h"
#include "support/temp_config_home.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QPlainTextEdit;

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

// The port component's notifications served by the Qt event loop, and its errors shown in the
// error box, as the program sets them up.
class PortConsoleTest : public ConsoleTest {
protected:
    GuiMessagePump Pump{*QCoreApplication::instance()};
    ApplicationErrorReporter Reporter{*QCoreApplication::instance()};
};

// The main window made at start-up with one port (COM1, a fake one) to list, so start-up shows
// no message; a port prompt a test installs is taken out again after it.
class WindowConsoleTest : public PortConsoleTest {
protected:
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<TForm1> Form;
};

// Serves the event loop until `condition` holds or `timeoutMs` passes; false on time-out.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

// The text of status bar panel `index`.
QString Panel(const TForm1& form, int index);

// The lines of a view's text, without the empty one after a final line break.
QStringList ViewLines(const QPlainTextEdit& view);

} // namespace mbus::console

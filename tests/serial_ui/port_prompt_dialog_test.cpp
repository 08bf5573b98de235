#include "serial/port_prompt.h"
#include "serial_ui/port_prompt_dialog.h"
#include "serial_ui_test.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace mbus::serial_ui {
namespace {

using Answer = std::function<void(TComSelectForm&)>;

class PortPromptDialogTest : public SerialUiTest {
protected:
    PortPromptDialogTest() { InstallPortPrompt(); }
    ~PortPromptDialogTest() override { serial::SetPortPrompt({}); }

    // Asks through the installed prompt and gives `answer` once the dialog is up. A dialog still
    // open ten seconds later is rejected and the test fails, so no test waits for ever.
    static std::optional<int> Ask(const Answer& answer) {
        bool answered = false;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* form = qobject_cast<TComSelectForm*>(QApplication::activeModalWidget())) {
                poll.stop();
                answered = true;
                answer(*form);
            }
        });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] {
            if (auto* form = qobject_cast<TComSelectForm*>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "the port dialog is still open";
                form->reject();
            }
        });
        poll.start();
        watchdog.start(std::chrono::seconds(10));
        const std::optional<int> port = serial::PromptForPortNumber();
        EXPECT_TRUE(answered) << "the port dialog did not show";
        return port;
    }

    static void Click(TComSelectForm& form, const char* button) {
        form.findChild<QPushButton*>(button)->click();
    }
};

#ifndef _WIN32 // these need ports of the numbers they name (AddPort)
int OpenDialogs() {
    int count = 0;
    for (QWidget* window : QApplication::topLevelWidgets())
        count += qobject_cast<TComSelectForm*>(window) != nullptr ? 1 : 0;
    return count;
}

TEST_F(PortPromptDialogTest, OkGivesTheSelectedPort) {
    AddPort(1);
    AddPort(3);
    const auto chooseCom3 = [](TComSelectForm& form) {
        auto* ports = form.findChild<QComboBox*>("PortsComboBox");
        ports->setCurrentIndex(ports->findText("COM3"));
    };
    EXPECT_EQ(Ask([&](TComSelectForm& form) {
                  chooseCom3(form);
                  Click(form, "OkBtn");
              }),
              3);
    EXPECT_EQ(Ask([&](TComSelectForm& form) { // Enter presses the default button
                  chooseCom3(form);
                  QTest::keyClick(form.PortsComboBox, Qt::Key_Return);
              }),
              3);
    EXPECT_EQ(OpenDialogs(), 0);
}

TEST_F(PortPromptDialogTest, CancelEscapeAndCloseDecline) {
    AddPort(1);
    const struct {
        const char* Way;
        Answer Give;
    } declines[] = {
        {"Cancel", [](TComSelectForm& form) { Click(form, "AbortBtn"); }},
        {"Escape",
         [](TComSelectForm& form) { QTest::keyClick(form.PortsComboBox, Qt::Key_Escape); }},
        {"close button", [](TComSelectForm& form) { form.close(); }},
    };
    for (const auto& decline : declines) {
        SCOPED_TRACE(decline.Way);
        EXPECT_EQ(Ask(decline.Give), std::nullopt);
        EXPECT_EQ(OpenDialogs(), 0);
    }
}
#endif

TEST_F(PortPromptDialogTest, OkWithoutAnyPortDeclines) {
    EXPECT_EQ(Ask([](TComSelectForm& form) {
                  EXPECT_EQ(form.PortsComboBox->count(), 0);
                  Click(form, "OkBtn");
              }),
              std::nullopt);
}

TEST_F(PortPromptDialogTest, DeclinesOffTheWindowThread) {
#ifndef _WIN32
    AddPort(1);
#endif
    auto answer = std::make_shared<std::promise<std::optional<int>>>();
    auto port = answer->get_future();
    std::thread asker([answer] { answer->set_value(serial::PromptForPortNumber()); });
    const bool answered = port.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!answered)
        asker.detach(); // stuck showing a dialog off the window thread; the test has failed
    else
        asker.join();
    ASSERT_TRUE(answered);
    EXPECT_EQ(port.get(), std::nullopt);
}

} // namespace
} // namespace mbus::serial_ui

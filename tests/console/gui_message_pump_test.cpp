#include "console/gui_message_pump.h"

#include "console_test.h"
#include "platform/message_window.h"

#include <gmock/gmock.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <atomic>
#include <thread>

namespace mbus::console {
namespace {

constexpr std::uint32_t kPosted = 0x7E01;
constexpr std::uint32_t kSent = 0x7E02;

class GuiMessagePumpTest : public ConsoleTest {
protected:
    GuiMessagePumpTest() {
        Window = platform::CreateMessageWindow(
            [this](platform::WindowHandle, std::uint32_t msg, std::uintptr_t, std::intptr_t) {
                Served.push_back(msg);
                ServedInsideBox.push_back(QApplication::activeModalWidget() != nullptr);
                return std::intptr_t{42};
            });
    }
    ~GuiMessagePumpTest() override { platform::DestroyMessageWindow(Window); }

    platform::WindowHandle Window = 0;
    std::vector<std::uint32_t> Served; // on the GUI thread only
    std::vector<bool> ServedInsideBox;
};

TEST_F(GuiMessagePumpTest, MessagesFromAnotherThreadAreServedWhileAModalBoxIsOpen) {
    const GuiMessagePump pump(*QCoreApplication::instance());
    SetMessageBoxHook({}); // a real modal box with its own event loop

    std::thread sender;
    std::atomic<bool> sendSucceeded = false;
    std::intptr_t sendResult = 0;
    const QDeadlineTimer deadline(10000);
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        if (!sender.joinable()) {
            sender = std::thread([&] {
                platform::PostMessage(Window, kPosted, 1, 2);
                sendSucceeded = platform::SendMessageTimeout(
                    Window, kSent, 3, 4, platform::SMTO_BLOCK, 10000, &sendResult);
            });
        }
        if (Served.size() >= 2 || deadline.hasExpired())
            box->button(QMessageBox::Ok)->click();
    });
    watch.start();
    ShowMessageBox("waiting for the port", QString(), QMessageBox::Information);
    watch.stop();
    ASSERT_TRUE(sender.joinable());
    sender.join();

    // Sent messages go before posted ones, so either order is right.
    EXPECT_THAT(Served, ::testing::UnorderedElementsAre(kPosted, kSent));
    EXPECT_EQ(ServedInsideBox, (std::vector<bool>{true, true}));
    EXPECT_TRUE(sendSucceeded);
    EXPECT_EQ(sendResult, 42);
}

TEST_F(GuiMessagePumpTest, PumpingOneMessageLetsQtProcessItsEvents) {
    const GuiMessagePump pump(*QCoreApplication::instance());
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    platform::PumpOneMessage();
    EXPECT_TRUE(fired);
}

} // namespace
} // namespace mbus::console

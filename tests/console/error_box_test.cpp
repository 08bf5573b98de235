#include "console/error_box.h"

#include "console_test.h"
#include "util/integer_text.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>

namespace mbus::console {
namespace {

TEST(ErrorBoxTextTest, AFullStopFollowsMessagesEndingAboveIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"abc", "abc."},
        {"COM9", "COM9."},
        {"串口错误", "串口错误."},
        {"a/", "a/."},
        {"done.", "done."},
        {"wow!", "wow!"},
        {"(x)", "(x)"},
        {"blank ", "blank "},
        {"'x'", "'x'"},
        {"a-", "a-"},
        {"", ""},
    };
    for (const auto& [message, shown] : cases)
        EXPECT_EQ(ErrorBoxText(QString::fromUtf8(message)), QString::fromUtf8(shown)) << message;
}

using ErrorBoxTest = ConsoleTest;

TEST_F(ErrorBoxTest, AnExceptionEndsTheHandlerAndIsShownWithTheStopIcon) {
    bool before = false;
    bool after = false;
    RunGuarded([&] {
        before = true;
        util::StrToInt("9600 ");
        after = true;
    });
    EXPECT_TRUE(before) << "what the handler did before the failure stays done";
    EXPECT_FALSE(after);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "'9600 ' is not a valid integer value.");
    EXPECT_EQ(Boxes[0].Caption, "M-bus测试工具");
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Boxes[0].Buttons, QMessageBox::Ok);
    EXPECT_EQ(Boxes[0].Format, Qt::PlainText) << "a message is never read as markup";
}

TEST_F(ErrorBoxTest, ExceptionsOfAnyTypeAreCaught) {
    RunGuarded([] { throw 42; });
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Unknown exception.");
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Critical);
}

TEST_F(ErrorBoxTest, WithoutAHookTheBoxIsModalAndAnsweredByTheUser) {
    SetMessageBoxHook({});
    QString seenTitle;
    QString seenText;
    QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
    const QDeadlineTimer deadline(10000);
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            if (deadline.hasExpired())
                answer.stop();
            return;
        }
        seenTitle = box->windowTitle();
        seenText = box->text();
        seenIcon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    answer.start();
    ShowErrorBox("port gone");
    answer.stop();
    EXPECT_EQ(seenTitle, "M-bus测试工具");
    EXPECT_EQ(seenText, "port gone.");
    EXPECT_EQ(seenIcon, QMessageBox::Critical);
}

} // namespace
} // namespace mbus::console

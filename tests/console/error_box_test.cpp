#include "console/error_box.h"

#include "console_test.h"
#include "util/integer_text.h"

namespace mbus::console {
namespace {

TEST(ErrorBoxTextTest, AFullStopFollowsMessagesEndingAboveIt) {
    for (const char* message : {"abc", "COM9", "串口错误", "a/"})
        EXPECT_EQ(ErrorBoxText(QString::fromUtf8(message)), QString::fromUtf8(message) + ".");
    for (const char* message : {"done.", "wow!", "(x)", "blank ", "'x'", "a-", ""})
        EXPECT_EQ(ErrorBoxText(QString::fromUtf8(message)), QString::fromUtf8(message));
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

} // namespace
} // namespace mbus::console

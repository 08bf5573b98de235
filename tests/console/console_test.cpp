#include "console_test.h"

#include "console/mbus_program.h"

#include <QApplication>

namespace mbus::console {

ConsoleTest::ConsoleTest() {
    SetApplicationTitle(QString::fromUtf8(kFormCaption));
    SavedHook_ = SetMessageBoxHook([this](QMessageBox& box) {
        Boxes.push_back(
            {box.icon(), box.windowTitle(), box.text(), box.standardButtons(), box.textFormat()});
        return QMessageBox::Ok;
    });
}

ConsoleTest::~ConsoleTest() {
    SetMessageBoxHook(SavedHook_);
}

std::unique_ptr<TForm1> ConsoleTest::MakeForm() {
    return CreateMainWindow();
}

} // namespace mbus::console

// The application object lives as long as the tests run and goes before the program's static
// objects, as in the console itself.
int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

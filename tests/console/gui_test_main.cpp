// main() of the GUI test programs: the application object lives as long as the tests run and goes
// before the program's static objects, as in the console itself.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

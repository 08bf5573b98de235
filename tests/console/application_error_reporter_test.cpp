// What the serial component reports from its worker threads or its event handlers reaches the
// error box on the GUI thread.
#include "console_test.h"

#include "serial/application_errors.h"

#include <thread>

namespace mbus::console {
namespace {

using ApplicationErrorReporterTest = PortConsoleTest;

TEST_F(ApplicationErrorReporterTest, ReportsFromAnyThreadAreShownOnTheGuiThread) {
    serial::ReportApplicationError("ie_Open - device already open");
    ASSERT_EQ(Boxes.size(), 1u) << "on the GUI thread the box is shown at once";

    std::thread worker([] { serial::ReportApplicationError("Buffer is empty"); });
    worker.join();
    ASSERT_TRUE(WaitUntil([&] { return Boxes.size() == 2; }));
    EXPECT_EQ(Boxes[1].Text, "Buffer is empty.");
    EXPECT_EQ(Boxes[1].Icon, QMessageBox::Critical);
    EXPECT_EQ(Boxes[1].Caption, QString::fromUtf8(kFormCaption));
}

} // namespace
} // namespace mbus::console

#include "console_test.h"

#include "console/mbus_program.h"

#include "console/status_bar.h"
#include "serial/port_prompt.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPlainTextEdit>
#include <QTimer>

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

void WindowConsoleTest::SetUp() {
    Home.AddFakePort(1);
    Form = MakeForm();
}

void WindowConsoleTest::TearDown() {
    serial::SetPortPrompt(nullptr);
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    // The loop never sleeps between turns (QTest::qWaitFor does), so the window's 5 ms tick keeps
    // its pace; the wake timer bounds each wait for events.
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.start(10);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

QString Panel(const TForm1& form, int index) {
    return form.sStatusBar1->PanelText(index);
}

QStringList ViewLines(const QPlainTextEdit& view) {
    QStringList lines = view.toPlainText().split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.pop_back();
    return lines;
}

} // namespace mbus::console

// The console end to end, offscreen: the simulated meter's line thread holds the master side of a
// pseudo-terminal and answers the console's read requests; the console's window opens the slave
// side as a COM port and sends the default request 200 times, one at a time. Two figures:
//   reply latency   from the moment the line took a reply's last byte from the meter to the
//                   moment the decoded line is in the decode view; median, p99, min and max.
//                   The frame rule waits for more than ten quiet ticks of 5 ms, so ~55 ms is
//                   the floor by design;
//   idle CPU        the whole process (window, port threads, idle meter thread) over 5 s of
//                   event loop with the port open and nothing on the line, as a share of one
//                   core.
// Prints figures only; a request that is not answered and decoded within 2 s is a fault and
// makes the exit status 1. Works in a throw-away port map without discovery: no real serial port
// is listed or opened.
#include "bench_support.h"
#include "console/application_error_reporter.h"
#include "console/gui_message_pump.h"
#include "console/image_button.h"
#include "console/main_window.h"
#include "console/mbus_program.h"
#include "console/message_box.h"
#include "console/rich_text_view.h"
#include "meter_port.h"
#include "serial/com_port.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace mbus;
using namespace mbus::bench;

constexpr int kRequests = 200;
constexpr int kIdleMs = 5000;

double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(share * double(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

} // namespace

int main(int argc, char** argv) try {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const MeterPort meterPort(1, {.Meters = {{}}});

    QApplication application(argc, argv);
    console::SetApplicationTitle(QString::fromUtf8(console::kFormCaption));
    const console::GuiMessagePump messagePump(application);
    const console::ApplicationErrorReporter errorReporter(application);
    console::SetMessageBoxHook([](QMessageBox& box) {
        std::fprintf(stderr, "message box: %s\n", qPrintable(box.text()));
        return QMessageBox::Ok;
    });
    const std::unique_ptr<console::TForm1> form = console::CreateMainWindow();
    form->show();
    form->btnComPortEn->click();
    if (!form->ComPort->Open()) {
        std::fprintf(stderr, "console_latency_bench: the port did not open\n");
        return 1;
    }

    Clock::time_point decodedAt;
    QObject::connect(form->redtDecode, &QPlainTextEdit::textChanged,
                     [&] { decodedAt = Clock::now(); });
    std::vector<double> latencies;
    for (int request = 0; request < kRequests; ++request) {
        const int lines = form->redtDecode->document()->blockCount();
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(form->redtDecode, &QPlainTextEdit::textChanged, &loop, [&] {
            if (form->redtDecode->document()->blockCount() > lines)
                loop.quit();
        });
        limit.start(2000);
        form->btnSend->click();
        loop.exec();
        if (form->redtDecode->document()->blockCount() == lines) {
            std::fprintf(stderr, "console_latency_bench: request %d was not decoded\n", request);
            return 1;
        }
        const Clock::time_point replyEnd = meterPort.Meter().LastReplySent();
        latencies.push_back(
            std::chrono::duration<double, std::milli>(decodedAt - replyEnd).count());
    }

    std::printf("console_latency_bench: %d requests, default read request against the simulated "
                "meter on a pseudo-terminal\n",
                kRequests);
    std::printf("  last reply byte -> decoded line  median %.1f ms  p99 %.1f ms  min %.1f ms  max "
                "%.1f ms  (rule: more than 10 quiet ticks of 5 ms)\n",
                Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 0.0),
                Percentile(latencies, 1.0));

    QEventLoop idle;
    QTimer::singleShot(kIdleMs, &idle, &QEventLoop::quit);
    const double cpuBefore = ProcessCpuSeconds();
    const Clock::time_point idleStart = Clock::now();
    idle.exec();
    const double wall = std::chrono::duration<double>(Clock::now() - idleStart).count();
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    std::printf("  idle with the port open          %.2f %% of one core over %.1f s\n",
                100.0 * cpu / wall, wall);
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "console_latency_bench: %s\n", e.what());
    return 1;
}

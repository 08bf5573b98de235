// The console's round (轮抄) of 50 meters, offscreen, against `mbus sim` (run as the program it is)
// with the 50 meters on its line, a 20 ms turnaround and replies paced at the line's rate: at 2400
// and 9600 baud, 8E1 (11 bits a byte). The console opens the simulator's port at that rate as a
// user would, loads the list into the readings window's list pane and presses 开始轮抄; a round
// runs from its first request to the settling of its last. Two lines: every meter answering, and
// three meters silent (each costs the reply time-out, 应答超时, 2000 ms unless set).
// Each round's time is printed beside the line's floor: the wire time of the bytes the console
// sent to answering meters and received (its own counters) at 11 bits a byte, the turnarounds of
// the answering meters, and one time-out for each silent meter. Prints the round's summary too.
// Asserts nothing; exits 1 only when a round did not come to the expected count of answers.
#include "bench_support.h"
#include "console/application_error_reporter.h"
#include "console/exchange_monitor.h"
#include "console/gui_message_pump.h"
#include "console/image_button.h"
#include "console/main_window.h"
#include "console/mbus_program.h"
#include "console/message_box.h"
#include "console/meter_list_pane.h"
#include "console/meter_round.h"
#include "console/readings_log.h"
#include "console/readings_window.h"
#include "console/traffic_counters.h"
#include "round_line.h"
#include "serial/com_port.h"
#include "support/child_process.h"
#include "support/temp_config_home.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace mbus;
using namespace mbus::bench;

constexpr int kRequestBytes = 18;
const std::vector<int> kSilent{17, 29, 41};

// One line of meters at `baud`, `silent` of them silent: reads it kRounds times through the
// console's round and prints each round. False when a round read fewer meters than expected.
bool Measure(const std::string& list, int baud, bool silent) {
    std::vector<std::string> command{MBUS_PROGRAM, "sim",
                                     "--meters",   list,
                                     "--delay",    std::to_string(kTurnaroundMs),
                                     "--baud",     std::to_string(baud),
                                     "--parity",   "even"};
    if (silent) {
        for (const int meter : kSilent) {
            command.push_back("--silent-meter");
            command.push_back(RoundMeterAddress(meter));
        }
    }
    testing::ChildProcess sim(command);
    if (!sim.ReadLine(std::chrono::seconds(10))) {
        std::printf("FAULT: mbus sim did not start: %s\n",
                    sim.ReadErrors(std::chrono::seconds(1)).c_str());
        return false;
    }

    const std::unique_ptr<console::TForm1> form = console::CreateMainWindow();
    form->show();
    form->cmbSoftBaut->setCurrentText(QString::number(baud));
    form->cbbParity->setCurrentText(QStringLiteral("Even"));
    form->btnComPortEn->click();
    if (!form->ComPort->Open()) {
        std::printf("FAULT: the console did not open the simulator's port\n");
        return false;
    }
    auto* window = form->findChild<console::ReadingsWindow*>();
    console::MeterListPane& pane = *window->MeterList;
    if (!pane.LoadList(QString::fromStdString(list)))
        return false;
    const double timeoutSeconds = form->Exchanges->TimeoutMs() / 1000.0;

    bool sound = true;
    Clock::time_point startedAt;
    QObject::connect(pane.Round, &console::MeterRound::RoundStarted,
                     [&] { startedAt = Clock::now(); });
    for (int round = 1; round <= kRounds; ++round) {
        const std::uint32_t sentBefore = console::SendCount;
        const std::uint32_t receivedBefore = console::RecvCount;
        Clock::time_point endedAt;
        QEventLoop loop;
        QObject::connect(pane.Round, &console::MeterRound::RoundEnded, &loop, [&] {
            endedAt = Clock::now();
            loop.quit();
        });
        pane.btnRound->click();
        loop.exec();
        QCoreApplication::processEvents(); // the pane's own handlers of the round's end
        const double seconds = std::chrono::duration<double>(endedAt - startedAt).count();
        const int silentMeters = silent ? static_cast<int>(kSilent.size()) : 0;
        const int answering = kMeters - silentMeters;
        const double wireBytes =
            double(console::SendCount - sentBefore - std::uint32_t(silentMeters * kRequestBytes)) +
            double(console::RecvCount - receivedBefore);
        const double floor = wireBytes * kBitsPerByte / baud + answering * kTurnaroundMs / 1000.0 +
                             silentMeters * timeoutSeconds;
        std::printf("  round %d: %7.3f s, floor %7.3f s, ratio %.3f, %+.1f ms an exchange\n", round,
                    seconds, floor, seconds / floor, (seconds - floor) * 1000 / kMeters);
        const QString summary = pane.lblRoundSummary->text();
        std::printf("    %s\n", summary.toUtf8().constData());
        if (!summary.contains(QStringLiteral("%1/%2 块表应答正确").arg(answering).arg(kMeters)))
            sound = false;
    }
    std::printf("  readings logged: %zu\n", window->Log->Rows().size());
    form.get()->ComPort->SetOpen(false);
    sim.Signal(SIGTERM);
    sim.Wait(std::chrono::seconds(10));
    return sound;
}

} // namespace

int main(int argc, char** argv) try {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const testing::TempConfigHome home;
    const std::string list = (home.Root() / "line.csv").string();
    WriteRoundMeterList(list);

    QApplication application(argc, argv);
    console::SetApplicationTitle(QString::fromUtf8(console::kFormCaption));
    const console::GuiMessagePump messagePump(application);
    const console::ApplicationErrorReporter errorReporter(application);
    console::SetMessageBoxHook([](QMessageBox& box) {
        std::printf("message box: %s\n", qPrintable(box.text()));
        return QMessageBox::Ok;
    });

    std::printf("console_round_bench: %d meters, %d ms turnaround, 8E1, %d rounds each; load %s\n",
                kMeters, kTurnaroundMs, kRounds, LoadAverage().c_str());
    bool sound = true;
    for (const bool silent : {false, true}) {
        for (const int baud : {2400, 9600}) {
            std::printf("%d baud, %s:\n", baud,
                        silent ? "3 meters silent (17, 29, 41)" : "every meter answering");
            if (!Measure(list, baud, silent)) {
                std::printf("FAULT: a round did not read what it should\n");
                sound = false;
            }
        }
    }
    std::printf("load after %s\n", LoadAverage().c_str());
    return sound ? 0 : 1;
} catch (const std::exception& e) {
    std::fprintf(stderr, "console_round_bench: %s\n", e.what());
    return 1;
}

#include "meter_session.h"

#include "console/image_button.h"
#include "console/rich_text_view.h"
#include "serial/com_port.h"

#include <QComboBox>
#include <QTableWidget>

#include <chrono>
#include <csignal>
#include <sstream>

namespace mbus::console {

using namespace std::chrono_literals;

MeterSession::~MeterSession() {
    Form.reset();
    if (Sim) {
        Sim->Signal(SIGTERM);
        Sim->Wait(10s);
    }
}

void MeterSession::StartWithSim(const std::vector<std::string>& options) {
    // Unpaced: the frames these tests count come whole even on a loaded machine (see
    // support/running_sim.h).
    std::vector<std::string> command = {testing::ProgramFromEnvironment("MBUS_PROGRAM"), "sim",
                                        "--unpaced"};
    command.insert(command.end(), options.begin(), options.end());
    Sim = std::make_unique<testing::ChildProcess>(command);
    const auto line = Sim->ReadLine(10s);
    ASSERT_TRUE(line) << Sim->ReadErrors(1s);
    std::istringstream(*line) >> ComName;
    Form = MakeForm();
    Form->show();
    ASSERT_EQ(Form->cmbSoftPort->currentText().toStdString(), ComName);
}

void MeterSession::OpenPort() {
    Form->btnComPortEn->click();
    ASSERT_TRUE(Form->ComPort->Open());
    ASSERT_EQ(Form->btnComPortEn->text(), "关闭串口");
}

void MeterSession::SendAndWaitForLines(int lines) {
    Form->btnSend->click();
    ASSERT_TRUE(WaitUntil([&] { return ViewLines(*Form->redtComRechex).size() >= lines; }))
        << "frames seen: " << ViewLines(*Form->redtComRechex).size();
}

QStringList Column(const QTableWidget& table, const QString& header) {
    QStringList texts;
    for (int column = 0; column < table.columnCount(); ++column) {
        if (table.horizontalHeaderItem(column)->text() != header)
            continue;
        for (int row = 0; row < table.rowCount(); ++row)
            texts << (table.item(row, column) ? table.item(row, column)->text() : QString());
    }
    return texts;
}

} // namespace mbus::console

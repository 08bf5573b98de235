// Fixture of the end-to-end tests: `mbus sim` runs as a program of its own on a pseudo-terminal
// registered in the test's ports folder, and the console's window, made after it, lists that
// port first. The window is shown (offscreen) as a user sees it. Beside it, what the tests read
// from the windows' tables.
#pragma once

#include "console_test.h"
#include "support/child_process.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

class QTableWidget;

namespace mbus::console {

class MeterSession : public PortConsoleTest {
protected:
    ~MeterSession() override;

    // Starts the simulated meter with `options` (see `mbus sim --help`), then makes and shows the
    // window. Fails the test when the simulator does not come up.
    void StartWithSim(const std::vector<std::string>& options = {});
    // Presses the port button and checks that the port opened.
    void OpenPort();
    // Presses btnSend and waits until the traffic view holds `lines` lines in all.
    void SendAndWaitForLines(int lines);

    std::unique_ptr<testing::ChildProcess> Sim;
    std::string ComName; // COM<n> of the simulator
    std::unique_ptr<TForm1> Form;
};

// The texts of the table's column headed `header`, row by row (empty for an empty cell).
QStringList Column(const QTableWidget& table, const QString& header);

} // namespace mbus::console

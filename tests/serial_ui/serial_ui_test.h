// Fixture of the port selection dialog tests (the test program's main() makes the application
// object): a throw-away ports folder with discovery off, and ports made on demand as COM<n>
// links to pseudo-terminals that live as long as the test.
#pragma once

#include "serial_ui/com_select_form.h"
#include "support/pty_pair.h"
#include "support/temp_config_home.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <memory>
#include <vector>

namespace mbus::serial_ui {

class SerialUiTest : public ::testing::Test {
protected:
#ifndef _WIN32 // a Windows test cannot give a port the number it wants
    // Makes a pseudo-terminal and the link COM<number> to its device.
    void AddPort(int number);
#endif

    // The dialog's port list, top to bottom.
    static QStringList Entries(const TComSelectForm& form);

    mbus::testing::TempConfigHome Home;

#ifndef _WIN32
private:
    std::vector<std::unique_ptr<mbus::testing::PtyPair>> Ports_;
#endif
};

} // namespace mbus::serial_ui

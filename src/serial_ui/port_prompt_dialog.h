// The port prompt of a Qt program: asks the user for a port with TComSelectForm whenever the port
// component is to open without a port number. Installed once at start-up, after the QApplication.
#pragma once

namespace mbus::serial_ui {

// Installs the prompt for the port component. The prompt makes the dialog without a parent (the
// application owns it), shows it modally and frees it again. It yields the selected port when
// the user presses OK, and none (the component then raises ENoPortSelected) when the user
// cancels, presses Escape or closes the window - and also on OK with an empty list, when no port
// exists. Called off the window thread or without a QApplication it declines at once, since no
// widget can be made there.
void InstallPortPrompt();

} // namespace mbus::serial_ui

// The program: the application object and its title, the main window set up by FormCreate, and
// the message loop until the window is closed.
#pragma once

#include <memory>

namespace mbus::console {

class TForm1;

// Creates the main window (which arms tmr1) and runs its FormCreate; the window is not shown
// yet. Needs the application object.
std::unique_ptr<TForm1> CreateMainWindow();

// The whole start-up: application, Qt's Chinese translation, title, message windows served by
// the Qt event loop, the serial component's error reporter and port prompt, main window; returns
// the loop's exit code when the main window has been closed.
int Mbus(int& argc, char** argv);

} // namespace mbus::console

// The main window's keys: Enter in 发送数据 and F5 send (as 发送 does), Ctrl+O opens or closes the
// port (as the port button does), and Tab goes through the controls in the order of the layout:
// the tool bar, the port settings, the command row, the traffic view and its buttons, the decode
// view.
#pragma once

namespace mbus::console {

class TForm1;

// Call once, after every control exists and the handlers are connected.
void InstallKeyboard(TForm1& form);

} // namespace mbus::console

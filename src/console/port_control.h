// Port control: the three port lists become settings of ComPort, the port button opens and
// closes it, and the button and status panel 0 show the state the port is in after every action
// (and after a line loss). A change of port, baud rate or parity reopens an open port with the
// settings as the window shows them.
#pragma once

namespace mbus::console {

// Closes ComPort when it is open; otherwise opens it with the port number, baud rate and parity
// of the window. A port number or baud rate text that is not an integer raises (the error box
// shows it); a failed open shows "串口已被占用或串口不存在".
void ToggleComPort();

// Shows the port's state on btnComPortEn and panel 0: open only while ComPort is open (a close
// still finishing reads closed).
void ShowPortState();

} // namespace mbus::console

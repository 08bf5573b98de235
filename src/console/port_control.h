// Port control: the three port lists become settings of ComPort, the port button opens and
// closes it, and the button and status panel 0 show the state the port is in after every action
// (and after a line loss). A change of port, baud rate or parity reopens an open port with the
// settings as the window shows them. OpenPortAsShown is the one place that gives ComPort its
// port, so what 串口号 shows, the port in use and the port the readings log names agree.
#pragma once

namespace mbus::console {

// Closes ComPort when it is open; otherwise opens it with the port number, baud rate and parity
// of the window. A port number or baud rate text that is not an integer raises (the error box
// shows it); a failed open shows "串口已被占用或串口不存在".
void ToggleComPort();

// Gives ComPort the port number, baud rate and parity the window shows and opens it; false when
// the open failed (the platform keeps the cause, platform::TakeOpenFailureCause). A port number
// or baud rate text that is not an integer raises before anything is opened. When the component
// asked the user for the port (the text gave port number 0), 串口号 then shows the port chosen.
bool OpenPortAsShown();

// Shows the port's state on btnComPortEn and panel 0: panel 0 reads open only while ComPort is
// open (a close still finishing reads closed); the button offers "关闭串口" also while a lost
// port is waited for, since a press then ends the wait.
void ShowPortState();

// Shows the status bar's message: the reconnect's while it has one ("等待串口恢复（COM3）…",
// "已重连（COM3）"), else the hint while no port is found, else nothing.
void ShowStatusMessage();

} // namespace mbus::console

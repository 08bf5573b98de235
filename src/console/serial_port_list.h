// The serial ports the system knows, read once at start-up from the registry key
// HARDWARE\DEVICEMAP\SERIALCOMM of the local machine.
#pragma once

#include <QStringList>

namespace mbus::console {

// The list read at start-up; nothing reads it later.
extern QStringList PortList;

// The device names ("COM3", ...) of the key's values, sorted as text without regard to letter
// case by the user's locale ("COM10" before "COM2"). When the key cannot be opened, or a value
// cannot be read, shows "打开串口列表的注册表项出错" and gives what it read until then. Never
// throws.
QStringList ListSerialPorts();

} // namespace mbus::console

// The serial ports the system knows, read from the registry key HARDWARE\DEVICEMAP\SERIALCOMM of
// the local machine: at start-up with a message when the list cannot be read, and afresh without
// one whenever the port map changes (live_port_list.h).
#pragma once

#include <QStringList>

namespace mbus::console {

// The list last read (at start-up, then at every refresh of the port list).
extern QStringList PortList;

// The device names ("COM3", ...) of the key's values, sorted as text without regard to letter
// case by the user's locale ("COM10" before "COM2"). `failed` tells whether the key could not be
// opened or a value could not be read; the names read until then are given. A system without
// any port is no failure where the platform says so (Linux's port map is then just empty).
// Never throws.
QStringList ReadSerialPorts(bool& failed);

// ReadSerialPorts, showing "打开串口列表的注册表项出错" when it failed. Never throws.
QStringList ListSerialPorts();

} // namespace mbus::console

// What the console remembers between runs (QSettings, in an INI file "console.ini" in the
// console's folder of the user's configuration: ${XDG_CONFIG_HOME:-~/.config}/mbus-console on
// Linux, beside the ports folder). Only choices the user makes with the understanding that they
// last are stored; the window's designed values are the settings at every start.
#pragma once

#include <QString>

namespace mbus::console {

// Whether 自动重连 was ticked when it last changed; off when never set.
bool StoredAutoReconnect();
void StoreAutoReconnect(bool on);

// The folder of the traffic log file (记录到文件), picked once; empty when never picked.
QString StoredLogFolder();
void StoreLogFolder(const QString& folder);

} // namespace mbus::console

// What the console remembers between runs (QSettings, in an INI file "console.ini" in the
// console's folder of the user's configuration: ${XDG_CONFIG_HOME:-~/.config}/mbus-console on
// Linux, beside the ports folder). Only choices the user makes with the understanding that they
// last are stored; the window's designed values are the settings at every start.
#pragma once

namespace mbus::console {

// Whether 自动重连 was ticked when it last changed; off when never set.
bool StoredAutoReconnect();
void StoreAutoReconnect(bool on);

} // namespace mbus::console

// 串口号 follows the port map while the console runs. ShowPortList puts a list of port names into
// cmbSoftPort around the text the user sees, which never changes under the user: a port that
// goes while it is the text stays the text, and the items change around it. Each item shows its
// device as tool tip. With no port at all the designed items COM1 to COM20 stay, the list's tool
// tip says "未找到串口" and the status bar points to the README's section on the port map.
// RefreshPortList reads the list afresh and shows it; the port map watch and the opening of the
// drop-down call it. Neither touches the port.
#pragma once

#include <QString>
#include <QStringList>

namespace mbus::console {

inline constexpr char kNoPortToolTip[] = "未找到串口";

// "COM1" to "COM20", the list's designed items.
QStringList DesignedPortItems();

// Shows `names` (the designed items when empty) in cmbSoftPort without running its change
// handler, keeping its text, caret and selection.
void ShowPortList(const QStringList& names);

// Reads the port list without a message (PortList) and shows it. A list that cannot be read
// leaves the items as they are.
void RefreshPortList();

// The status bar's hint while no port is found, and its tool tip (how ports get their names).
QString NoPortHint();
QString NoPortHintToolTip();

} // namespace mbus::console

#include "console/live_port_list.h"

#include "console/main_window.h"
#include "console/port_control.h"
#include "console/serial_port_list.h"
#include "platform/port_map.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

#include <map>

namespace mbus::console {
namespace {

QStringList ItemsOf(const QComboBox& combo) {
    QStringList items;
    for (int index = 0; index < combo.count(); ++index)
        items << combo.itemText(index);
    return items;
}

// Replaces the items, leaving the text as the user sees and edits it.
void ReplaceItemsKeepingText(QComboBox& combo, const QStringList& items) {
    QLineEdit& edit = *combo.lineEdit();
    const QString text = edit.text();
    const int cursor = edit.cursorPosition();
    const int selectionStart = edit.selectionStart();
    const int selectionLength = edit.selectedText().size();
    const QSignalBlocker blocker(combo);
    combo.clear();
    combo.addItems(items);
    const int index = combo.findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    combo.setCurrentIndex(index);
    if (index < 0)
        combo.setEditText(text);
    if (selectionStart >= 0)
        edit.setSelection(selectionStart == cursor ? selectionStart + selectionLength
                                                   : selectionStart,
                          selectionStart == cursor ? -selectionLength : selectionLength);
    else
        edit.setCursorPosition(cursor);
}

} // namespace

QStringList DesignedPortItems() {
    QStringList items;
    for (int number = 1; number <= 20; ++number)
        items << QStringLiteral("COM%1").arg(number);
    return items;
}

void ShowPortList(const QStringList& names) {
    QComboBox& combo = *Form1->cmbSoftPort;
    const QStringList items = names.isEmpty() ? DesignedPortItems() : names;
    if (ItemsOf(combo) != items)
        ReplaceItemsKeepingText(combo, items);
    if (!names.isEmpty()) {
        std::map<int, QString> devices;
        for (const platform::PortMapEntry& entry : platform::ReadPortMap())
            devices[entry.Number] = QString::fromStdString(entry.DevicePath);
        for (int index = 0; index < combo.count(); ++index) {
            const auto number = platform::ComNumberOfName(combo.itemText(index).toStdString());
            const auto device = number ? devices.find(*number) : devices.end();
            combo.setItemData(index, device != devices.end() ? device->second : QVariant(),
                              Qt::ToolTipRole);
        }
    }
    combo.setToolTip(names.isEmpty() ? QString::fromUtf8(kNoPortToolTip) : QString());
    ShowStatusMessage();
}

void RefreshPortList() {
    bool failed = false;
    QStringList names = ReadSerialPorts(failed);
    if (failed)
        return;
    PortList = std::move(names);
    ShowPortList(PortList);
}

QString NoPortHint() {
    return QStringLiteral("未找到串口：见 README「Serial ports on Linux」");
}

QString NoPortHintToolTip() {
    return QStringLiteral("mbus ports 列出端口映射；COM 链接给设备一个串口号：\n\n") +
           QString::fromStdString(platform::PortMapRule());
}

} // namespace mbus::console

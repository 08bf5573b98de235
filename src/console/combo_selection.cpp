#include "console/combo_selection.h"

#include <QComboBox>

namespace mbus::console {

int SelectedItemIndex(const QComboBox& combo) {
    const QString text = combo.currentText();
    const int current = combo.currentIndex();
    if (current >= 0 && combo.itemText(current) == text)
        return current;
    return combo.findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

} // namespace mbus::console

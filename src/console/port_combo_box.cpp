#include "console/port_combo_box.h"

namespace mbus::console {

void PortComboBox::showPopup() {
    emit PopupAboutToShow();
    QComboBox::showPopup();
}

} // namespace mbus::console

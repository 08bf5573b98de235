// The drop-down list 串口号: an editable list that says when its list is about to open, so the
// ports can be read afresh before the user looks at them.
#pragma once

#include <QComboBox>

namespace mbus::console {

class PortComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;

    // Signals PopupAboutToShow, then opens the list.
    void showPopup() override;

signals:
    void PopupAboutToShow();
};

} // namespace mbus::console

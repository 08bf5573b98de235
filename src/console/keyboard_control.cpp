#include "console/keyboard_control.h"

#include "console/error_box.h"
#include "console/image_button.h"
#include "console/main_window.h"
#include "console/rich_text_view.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QToolBar>
#include <QToolButton>

namespace mbus::console {

void InstallKeyboard(TForm1& form) {
    const auto send = [&form] { RunGuarded([&form] { form.btnSendClick(form.btnSend); }); };
    QObject::connect(form.edtCMD, &QLineEdit::returnPressed, &form, send);
    auto* sendKey = new QShortcut(QKeySequence(Qt::Key_F5), &form);
    sendKey->setObjectName(QStringLiteral("SendShortcut"));
    QObject::connect(sendKey, &QShortcut::activated, &form, send);
    auto* portKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), &form);
    portKey->setObjectName(QStringLiteral("PortShortcut"));
    QObject::connect(portKey, &QShortcut::activated, &form, [&form] {
        RunGuarded([&form] { form.btnComPortEnClick(form.btnComPortEn); });
    });
    form.btnSend->setToolTip(QStringLiteral("Enter / F5"));
    form.btnComPortEn->setToolTip(QStringLiteral("Ctrl+O"));

    // The tool bar's controls first, as it shows them, then the window's.
    QList<QWidget*> order;
    for (QAction* action : form.sToolBar1->actions()) {
        QWidget* widget = form.sToolBar1->widgetForAction(action);
        if (widget != nullptr && (widget->focusPolicy() & Qt::TabFocus) != 0)
            order << widget;
    }
    order << form.cmbSoftPort << form.cmbSoftBaut << form.cbbParity << form.btnComPortEn
          << form.edtAddr << form.cmbDI << form.cmbType << form.edtCMD << form.ckbAutoSend
          << form.edtAutoSendInteval << form.btnSend << form.redtComRechex << form.ckbLR
          << form.btnSaveComRec << form.sButton1 << form.redtDecode;
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

} // namespace mbus::console

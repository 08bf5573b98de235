#include "console/port_control.h"

#include "console/combo_selection.h"
#include "console/console_settings.h"
#include "console/image_button.h"
#include "console/live_port_list.h"
#include "console/main_window.h"
#include "console/message_box.h"
#include "console/port_reconnect.h"
#include "console/serial_port_list.h"
#include "console/status_bar.h"
#include "platform/comm_device.h"
#include "serial/com_port.h"
#include "util/integer_text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSignalBlocker>
#include <QTimer>

namespace mbus::console {
namespace {

// The parity of each item of cbbParity, in item order.
constexpr serial::TParity kParities[] = {serial::pNone, serial::pOdd, serial::pEven, serial::pMark,
                                         serial::pSpace};

// Whatever way an action on the port ends (done, refused, an error box), the display then shows
// the state the port is in.
class DisplayFollowsPort {
public:
    DisplayFollowsPort() = default;
    ~DisplayFollowsPort() { ShowPortState(); }
    DisplayFollowsPort(const DisplayFollowsPort&) = delete;
    DisplayFollowsPort& operator=(const DisplayFollowsPort&) = delete;
};

// Every port setting change does the same: an open port is closed and opened again with the
// settings as the window now shows them; the display reads open only when that reopen worked.
void ReopenWithWindowSettings() {
    if (!Form1->ComPort->Open())
        return;
    DisplayFollowsPort display;
    Form1->ComPort->SetOpen(false);
    ToggleComPort();
}

} // namespace

void ShowPortState() {
    // A port whose close is still finishing is closed for the user: it takes and sends nothing.
    const bool open = Form1->ComPort->PortState() == serial::psOpen;
    const bool inUse = open || Form1->Reconnect->Waiting();
    Form1->btnComPortEn->setText(inUse ? QStringLiteral("关闭串口") : QStringLiteral("打开串口"));
    Form1->btnComPortEn->SetImageIndex(inUse ? kImagePortOpen : kImagePortClosed);
    Form1->sStatusBar1->SetPanelText(0, open ? QStringLiteral("串口状态：打开")
                                             : QStringLiteral("串口状态：关闭"));
}

void ShowStatusMessage() {
    StatusBar& bar = *Form1->sStatusBar1;
    if (const QString text = Form1->Reconnect->StatusText(); !text.isEmpty())
        bar.SetMessage(text, Form1->Reconnect->StatusToolTip());
    else if (PortList.isEmpty())
        bar.SetMessage(NoPortHint(), NoPortHintToolTip());
    else
        bar.SetMessage(QString());
}

bool OpenPortAsShown() {
    serial::TComPort& port = *Form1->ComPort;
    // The first three characters (normally "COM") are skipped unchecked; the number keeps its
    // low eight bits, so COM256 gives 0 and the component asks for a port.
    const QString number = Form1->cmbSoftPort->currentText().mid(3);
    const auto shown = static_cast<std::uint8_t>(util::StrToInt(number.toStdString()));
    port.SetComNumber(shown);
    port.SetBaud(util::StrToInt(Form1->cmbSoftBaut->currentText().toStdString()));
    const int parity = SelectedItemIndex(*Form1->cbbParity);
    if (parity >= 0 && parity < int(std::size(kParities)))
        port.SetParity(kParities[parity]);

    bool opened = true;
    try {
        port.SetOpen(true);
    } catch (...) {
        opened = false;
    }
    if (port.ComNumber() != shown) {
        // The user chose the port in the component's dialog: it is the port from now on. Showing
        // it is no change by the user, so nothing reopens.
        const QSignalBlocker blocker(Form1->cmbSoftPort);
        const QString name = QStringLiteral("COM%1").arg(port.ComNumber());
        const int index = Form1->cmbSoftPort->findText(name);
        if (index >= 0)
            Form1->cmbSoftPort->setCurrentIndex(index);
        else
            Form1->cmbSoftPort->setEditText(name);
    }
    return opened;
}

void ToggleComPort() {
    serial::TComPort& port = *Form1->ComPort;
    DisplayFollowsPort display;
    if (port.Open()) {
        port.SetOpen(false);
        return;
    }
    if (!OpenPortAsShown()) {
        // Under the console's own message, what really went wrong where the platform knows it
        // (no permission for the device, a link to something that is not a terminal).
        QString text = QStringLiteral("串口已被占用或串口不存在");
        if (const std::string cause = platform::TakeOpenFailureCause(); !cause.empty())
            text += QStringLiteral("\n\n") + QString::fromStdString(cause);
        ShowMessageBox(text, QStringLiteral("错误"), QMessageBox::Critical);
    }
}

void TForm1::btnComPortEnClick(QObject* /*Sender*/) {
    // While a lost port is waited for, the button reads "关闭串口": a press ends the wait.
    if (Reconnect->Cancel())
        return;
    ToggleComPort();
}

void TForm1::cmbSoftPortChange(QObject* /*Sender*/) {
    Reconnect->Cancel(); // another port: the lost one is no longer waited for
    ReopenWithWindowSettings();
}

void TForm1::cmbSoftBautChange(QObject* /*Sender*/) {
    ReopenWithWindowSettings();
}

void TForm1::cbbParityChange(QObject* /*Sender*/) {
    ReopenWithWindowSettings();
}

void TForm1::ComPortPortLost(serial::TComponent* /*CP*/, const std::string& Cause) {
    const QString lost = QStringLiteral("串口已断开（%1）：%2")
                             .arg(cmbSoftPort->currentText(), QString::fromStdString(Cause));
    emit PortLost(lost);
    if (ckbAutoReconnect->isChecked()) {
        // No box: the status bar tells of the loss and the wait, and the port comes back by
        // itself.
        Reconnect->Start(ComPort->ComNumber(), lost);
        return;
    }
    // Everything that assumes an open port stops before the box is shown: its own message loop
    // would serve the timed sends.
    Timer1->stop();
    ckbAutoSend->setChecked(false);
    ShowPortState();
    ShowMessageBox(lost, QStringLiteral("错误"), QMessageBox::Critical);
}

void TForm1::ckbAutoReconnectClick(QObject* /*Sender*/) {
    StoreAutoReconnect(ckbAutoReconnect->isChecked());
    if (!ckbAutoReconnect->isChecked())
        Reconnect->Cancel();
}

} // namespace mbus::console

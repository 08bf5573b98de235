#include "console/port_control.h"

#include "console/combo_selection.h"
#include "console/image_button.h"
#include "console/main_window.h"
#include "console/message_box.h"
#include "console/status_bar.h"
#include "platform/comm_device.h"
#include "serial/com_port.h"
#include "util/integer_text.h"

#include <QCheckBox>
#include <QComboBox>
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
    Form1->btnComPortEn->setText(open ? QStringLiteral("关闭串口") : QStringLiteral("打开串口"));
    Form1->btnComPortEn->SetImageIndex(open ? kImagePortOpen : kImagePortClosed);
    Form1->sStatusBar1->SetPanelText(0, open ? QStringLiteral("串口状态：打开")
                                             : QStringLiteral("串口状态：关闭"));
}

void ToggleComPort() {
    serial::TComPort& port = *Form1->ComPort;
    DisplayFollowsPort display;
    if (port.Open()) {
        port.SetOpen(false);
        return;
    }

    // The first three characters (normally "COM") are skipped unchecked; the number keeps its
    // low eight bits, so COM256 gives 0 and the component asks for a port.
    const QString number = Form1->cmbSoftPort->currentText().mid(3);
    port.SetComNumber(static_cast<std::uint8_t>(util::StrToInt(number.toStdString())));
    port.SetBaud(util::StrToInt(Form1->cmbSoftBaut->currentText().toStdString()));
    const int parity = SelectedItemIndex(*Form1->cbbParity);
    if (parity >= 0 && parity < int(std::size(kParities)))
        port.SetParity(kParities[parity]);

    try {
        port.SetOpen(true);
    } catch (...) {
        // Under the console's own message, what really went wrong where the platform knows it
        // (no permission for the device, a link to something that is not a terminal).
        QString text = QStringLiteral("串口已被占用或串口不存在");
        if (const std::string cause = platform::TakeOpenFailureCause(); !cause.empty())
            text += QStringLiteral("\n\n") + QString::fromStdString(cause);
        ShowMessageBox(text, QStringLiteral("错误"), QMessageBox::Critical);
    }
}

void TForm1::btnComPortEnClick(QObject* /*Sender*/) {
    ToggleComPort();
}

void TForm1::cmbSoftPortChange(QObject* /*Sender*/) {
    ReopenWithWindowSettings();
}

void TForm1::cmbSoftBautChange(QObject* /*Sender*/) {
    ReopenWithWindowSettings();
}

void TForm1::cbbParityChange(QObject* /*Sender*/) {
    ReopenWithWindowSettings();
}

void TForm1::ComPortPortLost(serial::TComponent* /*CP*/, const std::string& Cause) {
    // Everything that assumes an open port stops before the box is shown: its own message loop
    // would serve the timed sends.
    Timer1->stop();
    ckbAutoSend->setChecked(false);
    ShowPortState();
    ShowMessageBox(QStringLiteral("串口已断开（%1）：%2")
                       .arg(cmbSoftPort->currentText(), QString::fromStdString(Cause)),
                   QStringLiteral("错误"), QMessageBox::Critical);
}

} // namespace mbus::console

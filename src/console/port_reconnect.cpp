#include "console/port_reconnect.h"

#include "console/error_box.h"
#include "console/main_window.h"
#include "console/port_control.h"
#include "platform/comm_device.h"
#include "platform/port_map.h"
#include "serial/com_port.h"

#include <QCheckBox>

namespace mbus::console {

PortReconnect::PortReconnect(bool mapWatched, QObject* parent)
    : QObject(parent), MapWatched_(mapWatched) {
    Retry_.setSingleShot(true);
    Retry_.setInterval(kRetryMs);
    connect(&Retry_, &QTimer::timeout, this, [this] { RunGuarded([this] { TryReopen(); }); });
}

void PortReconnect::Start(int number, const QString& lost) {
    ResumeTimedSending_ = Form1->Timer1->isActive();
    Form1->Timer1->stop();
    Waiting_ = true;
    Number_ = number;
    SetMessage(QStringLiteral("等待串口恢复（COM%1）…").arg(number), lost);
    ShowPortState();
    // The device is normally gone by now; should it still be listed (a line that failed while
    // the device stayed), the first attempt comes after a pause, never at once.
    Retry_.start();
}

bool PortReconnect::Cancel() {
    const bool waited = Waiting_;
    Waiting_ = false;
    Retry_.stop();
    SetMessage(QString(), QString());
    if (waited) {
        Form1->ckbAutoSend->setChecked(false);
        ShowPortState();
    }
    return waited;
}

void PortReconnect::PortMapChanged() {
    if (Waiting_ && !Retry_.isActive())
        TryReopen();
}

void PortReconnect::TryReopen() {
    if (!Waiting_)
        return;
    if (!platform::ResolveDeviceName("COM" + std::to_string(Number_))) {
        if (!MapWatched_)
            Retry_.start();
        return; // not back yet: the next change of the map tells
    }
    bool opened = false;
    try {
        opened = OpenPortAsShown();
    } catch (...) {
        // The window's settings cannot be read (a baud rate text that is no integer): the port
        // cannot come back, so the wait ends and the error box says why.
        Cancel();
        throw;
    }
    if (!opened) {
        platform::TakeOpenFailureCause(); // not for this attempt: the wait goes on
        Retry_.start();
        return;
    }
    Waiting_ = false;
    if (ResumeTimedSending_ && Form1->ckbAutoSend->isChecked() && !Form1->Timer1->isActive())
        Form1->Timer1->start();
    SetMessage(QStringLiteral("已重连（COM%1）").arg(Number_), QString());
    ShowPortState();
}

void PortReconnect::SetMessage(const QString& text, const QString& toolTip) {
    Text_ = text;
    ToolTip_ = toolTip;
    ShowStatusMessage();
}

} // namespace mbus::console

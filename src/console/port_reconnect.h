// 自动重连: while ckbAutoReconnect is ticked, a port whose line died under the console is waited
// for and reopened. The wait ends when the same COM name is in the port map again with a terminal
// behind it; the port is then opened through OpenPortAsShown, at the baud rate and parity the
// window shows, and timed sending that was on goes on. Nothing is sent while the port is away:
// timed sending stops at the loss and starts again after the reopen, so no request piles up.
// The status bar says "等待串口恢复（COMn）…" while waiting (the loss in its tool tip) and
// "已重连（COMn）" after. A press on the port button, another port in 串口号 or unticking the box
// ends the wait.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace mbus::console {

class PortReconnect : public QObject {
    Q_OBJECT
public:
    // How long to wait before opening a port the map lists again after an open that failed (a
    // device node that appears before its permissions are set, a line that died at once).
    static constexpr int kRetryMs = 500;

    // `mapWatched`: whether changes of the port map are signalled to PortMapChanged. Without
    // that, the wait looks at the map every kRetryMs.
    PortReconnect(bool mapWatched, QObject* parent);

    // The open port COM<number> was lost (ComPort has closed it); `lost` says so for the user.
    // Timed sending stops, the display offers to end the wait, and the wait begins.
    void Start(int number, const QString& lost);
    // Ends a wait without reopening (timed sending stays off and its box unticked) and forgets
    // the status message. True when a wait ended.
    bool Cancel();
    // The port map may have changed: a port waited for and listed again is opened.
    void PortMapChanged();

    bool Waiting() const { return Waiting_; }
    // The status bar's message and its tool tip; empty when there is nothing to say.
    QString StatusText() const { return Text_; }
    QString StatusToolTip() const { return ToolTip_; }

private:
    void TryReopen();
    void SetMessage(const QString& text, const QString& toolTip);

    const bool MapWatched_;
    bool Waiting_ = false;
    int Number_ = 0;
    bool ResumeTimedSending_ = false;
    QString Text_;
    QString ToolTip_;
    QTimer Retry_;
};

} // namespace mbus::console

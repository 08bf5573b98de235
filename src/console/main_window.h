// The console's main window TForm1 and its one instance Form1. The window builds every control
// at its designed place with its designed starting state; control names (objectName and member
// name alike) are the ones the console's routines and tests use. Handlers are methods named
// after control and event; each runs through the application's error box.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class QToolBar;
class QToolButton;

namespace mbus::serial {
class TComPort;
class TComponent;
} // namespace mbus::serial

namespace mbus::console {

class ExchangeMonitor;
class ImageButton;
class ImageList;
class PictureView;
class PortMapWatch;
class PortReconnect;
class RichTextView;
class StatusBar;
class TrafficLogFile;

// The window caption, which is also the application title.
inline constexpr char kFormCaption[] = "M-bus测试工具";

// The quiet gap that ends a frame, 帧间隔: eleven 5 ms ticks by default.
inline constexpr int kDefaultFrameGapMs = 55;
inline constexpr int kShortestFrameGapMs = 10;
inline constexpr int kLongestFrameGapMs = 60000;

// Images of the port button for its two display states.
inline constexpr int kImagePortOpen = 6;
inline constexpr int kImagePortClosed = 7;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Builds the window, its controls and ComPort, and starts tmr1. Makes itself Form1.
    TForm1();
    // Stops the timers and closes an open port while the controls still exist.
    ~TForm1() override;

    // The creation handler: the port list, then the default request in edtCMD. Runs once,
    // before the window is first shown.
    void FormCreate(QObject* Sender);

    // Command composition.
    void edtAddrChange(QObject* Sender);
    void cmbTypeChange(QObject* Sender);
    void cmbDIChange(QObject* Sender);

    // Port control, sending, receiving, clear, save and about.
    void btnComPortEnClick(QObject* Sender);
    void cmbSoftPortChange(QObject* Sender);
    void cmbSoftBautChange(QObject* Sender);
    void cbbParityChange(QObject* Sender);
    void btnSendClick(QObject* Sender);
    void ckbAutoSendClick(QObject* Sender);
    void Timer1Timer(QObject* Sender);
    void tmr1Timer(QObject* Sender);
    void ComPortTriggerAvail(serial::TComponent* CP, std::uint16_t Count);
    // The line died under the open port (ComPort has closed it). With 自动重连 ticked the port is
    // waited for and reopened (PortReconnect); otherwise timed sending stops, the display shows
    // closed, and a box says "串口已断开" with the cause.
    void ComPortPortLost(serial::TComponent* CP, const std::string& Cause);
    // 自动重连 changed: remembered for the next run; unticked, it ends a wait for a lost port.
    void ckbAutoReconnectClick(QObject* Sender);
    // 记录到文件 changed: ticked, the traffic log file is written into the folder picked once
    // (asked for the first time); unticked, it stops.
    void ckbLogToFileClick(QObject* Sender);
    // 帧间隔 changed: the quiet time that ends a frame, in 5 ms ticks of tmr1.
    void edtFrameGapChange(QObject* Sender);
    void sButton1Click(QObject* Sender);
    void btnSaveComRecClick(QObject* Sender);
    void ToolButton2Click(QObject* Sender);

    // Controls, owned by the window through Qt's parent links.
    ImageList* slphmglst1;
    QToolBar* sToolBar1;
    QToolButton* ToolButton2;
    QCheckBox* ckbAutoReconnect;
    StatusBar* sStatusBar1;

    PictureView* sImage2;
    PictureView* sImage1;
    QGroupBox* sGroupBox1;
    QLabel* sLabel35;
    QComboBox* cmbSoftPort;
    QLabel* sLabel36;
    QComboBox* cmbSoftBaut;
    QLabel* lbl1;
    QComboBox* cbbParity;
    ImageButton* btnComPortEn;

    QGroupBox* sGroupBox2;
    QLabel* sLabel1;
    QLineEdit* edtAddr;
    QLabel* sLabel2;
    QComboBox* cmbDI;
    QLabel* sLabel3;
    QComboBox* cmbType;
    QLabel* sLabel4;
    QLineEdit* edtCMD;
    QCheckBox* ckbAutoSend;
    QLineEdit* edtAutoSendInteval;
    QLabel* sLabel6;
    QPushButton* btnSend;
    QLabel* sLabel5;
    RichTextView* redtComRechex;
    QCheckBox* ckbLR;
    QPushButton* btnSaveComRec;
    QPushButton* sButton1;
    // Below the traffic view, left of 自动换行: the quiet gap that ends a frame, the traffic log
    // file, and times on the view's lines.
    QLabel* lblFrameGap;
    QSpinBox* edtFrameGap;
    QLabel* lblFrameGapMs;
    QCheckBox* ckbLogToFile;
    QCheckBox* ckbTimestamp;

    QGroupBox* sGroupBox3;
    RichTextView* redtDecode;

    QTimer* tmr1;
    QTimer* Timer1;
    QFileDialog* sSaveDialog1;

    // The serial port component, created and destroyed with the window.
    std::unique_ptr<serial::TComPort> ComPort;

    // What follows the port map: the watch that tells of changes, and the wait for a lost port.
    // Owned by the window through Qt's parent links.
    PortMapWatch* PortWatch;
    PortReconnect* Reconnect;

    // The requests sent and their answers, and the traffic log file. Owned by the window through
    // Qt's parent links.
    ExchangeMonitor* Exchanges;
    TrafficLogFile* TrafficLog;
    // Quiet ticks of tmr1 after which the received bytes are a frame (from 帧间隔).
    std::uint16_t QuietTicks;

    // Writes one line to the traffic log file while 记录到文件 is ticked; a failure is said once
    // and unticks it.
    void LogTraffic(const char* direction, const std::string& bytes);

signals:
    // The open port's line died under it (`lost` says so for the user); emitted before the
    // window reports the loss or waits for the port, so what runs on the port stops first.
    void PortLost(const QString& lost);

protected:
    // The tool bar follows the window's width and the status bar its bottom edge; everything
    // else keeps its designed place.
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateControls();
    // 自动重连 in the tool bar, the port map watch and the reconnect of a lost port.
    void CreatePortFollowing();
    // The row left of 自动换行, the exchange monitor and the traffic log file.
    void CreateTrafficLogging();
    void ConnectHandlers();

    // tmr1 stopped itself at the end of a quiet cycle with no frame pending; the next data event
    // starts it again. A tmr1 stopped by anyone else stays stopped.
    bool FrameTimerPaused = false;
};

// The one main window while it exists (not owned here), else nullptr. The console's routines
// reach the controls through it.
extern TForm1* Form1;

} // namespace mbus::console

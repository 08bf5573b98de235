#include "console/main_window.h"

#include "console/command_composition.h"
#include "console/console_settings.h"
#include "console/error_box.h"
#include "console/exchange_monitor.h"
#include "console/frame_reception.h"
#include "console/image_button.h"
#include "console/image_list.h"
#include "console/keyboard_control.h"
#include "console/live_port_list.h"
#include "console/operations_window.h"
#include "console/picture_view.h"
#include "console/port_combo_box.h"
#include "console/port_map_watch.h"
#include "console/port_reconnect.h"
#include "console/readings_window.h"
#include "console/rich_text_view.h"
#include "console/serial_port_list.h"
#include "console/status_bar.h"
#include "console/traffic_counters.h"
#include "console/traffic_log_file.h"
#include "console/traffic_view.h"
#include "console/window_layout.h"
#include "protocol/meter_type.h"
#include "protocol/receive_framing.h"
#include "serial/application_errors.h"
#include "serial/com_port.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

namespace mbus::console {

TForm1* Form1 = nullptr;

namespace {

constexpr int kToolBarHeight = 20;
constexpr int kStatusBarHeight = 19;
const QColor kControlTextColor(0x44, 0x44, 0x44);

QFont DesignFont(const QStringList& families, int pixelSize) {
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    return font;
}

// MS Sans Serif is a narrow face: where it is missing the condensed DejaVu stands in, so texts
// sized for it (the whole default address in edtAddr) still fit their fields.
const QStringList kSansSerif = {
    QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
    QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")};

template <class Widget> Widget* Place(Widget* widget, const char* name, QRect geometry) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

void SetTextColor(QWidget* widget, QPalette::ColorRole role) {
    QPalette palette = widget->palette();
    palette.setColor(role, kControlTextColor);
    widget->setPalette(palette);
}

QLabel* MakeLabel(QWidget* parent, const char* name, QRect geometry, const char* text) {
    const QFont font = DesignFont({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                                   QStringLiteral("WenQuanYi Zen Hei")},
                                  16);
    auto* label = Place(new QLabel(QString::fromUtf8(text), parent), name, geometry);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    SetTextColor(label, QPalette::WindowText);
    // Labels size themselves to their text, so a wider font than the designed one cuts nothing.
    label->resize(std::max(geometry.width(), label->sizeHint().width()), geometry.height());
    return label;
}

// A single-line edit showing `text` from its start.
QLineEdit* MakeEdit(QWidget* parent, const char* name, QRect geometry, const QString& text) {
    auto* edit = Place(new QLineEdit(text, parent), name, geometry);
    edit->setCursorPosition(0);
    return edit;
}

// An editable drop-down list: typed text stays as typed (no completion) and is never added to
// the items.
template <class Combo = QComboBox>
Combo* MakeComboBox(QWidget* parent, const char* name, QRect geometry, const QStringList& items,
                    int selected) {
    auto* combo = Place(new Combo(parent), name, geometry);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    combo->addItems(items);
    combo->setCurrentIndex(selected);
    return combo;
}

QGroupBox* MakeGroupBox(QWidget* parent, const char* name, QRect geometry, const char* caption) {
    auto* box = Place(new QGroupBox(QString::fromUtf8(caption), parent), name, geometry);
    box->setAlignment(Qt::AlignHCenter);
    return box;
}

// A read-only, plain-text, word-wrapping traffic view that keeps its selection visible without
// focus.
RichTextView* MakeTextView(QWidget* parent, const char* name, QRect geometry) {
    const QFont font =
        DesignFont({QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif")}, 12);
    auto* view = Place(new RichTextView(parent), name, geometry);
    view->setReadOnly(true);
    view->setUndoRedoEnabled(false);
    view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    view->setFont(font);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, kControlTextColor);
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    view->setPalette(palette);
    return view;
}

QStringList MeterTypeItems() {
    QStringList items;
    for (const protocol::MeterType& type : protocol::MeterTypes())
        items << QString::fromUtf8(type.ItemText.data(), qsizetype(type.ItemText.size()));
    return items;
}

} // namespace

TForm1::TForm1() {
    Form1 = this;
    // The unit's traffic state belongs to the one window: a new window starts from nothing.
    RxFrame = {};
    RecvCount = SendCount = ParsedCount = 0;
    LastLine = LastCol = 0;
    CreateControls();
    ConnectHandlers();
    tmr1->start();
}

TForm1::~TForm1() {
    // Closing the port serves messages: no tick and no data event may reach the window's
    // routines on the way.
    tmr1->stop();
    Timer1->stop();
    PortWatch->blockSignals(true);
    Reconnect->Cancel();
    ComPort->SetOnTriggerAvail(nullptr);
    ComPort->SetOnPortLost(nullptr);
    try {
        ComPort->SetOpen(false);
    } catch (const std::exception& e) {
        serial::ReportApplicationError(e.what());
    }
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::CreateControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(kFormCaption));
    setFont(DesignFont(kSansSerif, 11));
    move(256, 167);
    resize(919, 537);

    slphmglst1 = new ImageList(this);
    slphmglst1->setObjectName(QStringLiteral("slphmglst1"));

    sToolBar1 = Place(new QToolBar(this), "sToolBar1", QRect(0, 0, 919, kToolBarHeight));
    sToolBar1->setMovable(false);
    sToolBar1->setFloatable(false);
    sToolBar1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    sToolBar1->setIconSize(QSize(16, 16));
    QFont bold = font();
    bold.setBold(true);
    sToolBar1->setFont(bold);
    ToolButton2 = new QToolButton(sToolBar1);
    ToolButton2->setObjectName(QStringLiteral("ToolButton2"));
    ToolButton2->setText(QStringLiteral("关于"));
    ToolButton2->setIcon(slphmglst1->Image(0));
    ToolButton2->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ToolButton2->setAutoRaise(true);
    sToolBar1->addWidget(ToolButton2);
    Exchanges = new ExchangeMonitor(this);
    Exchanges->setObjectName(QStringLiteral("Exchanges"));
    TrafficLog = new TrafficLogFile(this);
    TrafficLog->setObjectName(QStringLiteral("TrafficLog"));
    InstallReadingsWindow(*this);
    CreatePortFollowing();

    sStatusBar1 = new StatusBar({200, 120, 120, 120, 50}, this);
    Place(sStatusBar1, "sStatusBar1", QRect(0, 537 - kStatusBarHeight, 919, kStatusBarHeight));
    sStatusBar1->SetPanelText(0, QStringLiteral("串口状态：关闭"));
    sStatusBar1->SetPanelText(1, QStringLiteral("接收：0"));
    sStatusBar1->SetPanelText(2, QStringLiteral("发送：0"));
    sStatusBar1->SetPanelText(3, QStringLiteral("成功解析:0"));

    // Left column: pictures and port settings.
    sImage2 = Place(new PictureView(QStringLiteral(":/console/artwork/meter.svg"),
                                    PictureView::Reflection::None, this),
                    "sImage2", QRect(32, 48, 129, 161));
    sImage1 = Place(new PictureView(QStringLiteral(":/console/artwork/mbus_logo.svg"),
                                    PictureView::Reflection::Below, this),
                    "sImage1", QRect(8, 240, 169, 113));
    sGroupBox1 = MakeGroupBox(this, "sGroupBox1", QRect(8, 344, 169, 169), "串口设置");
    const QFont portFont = DesignFont(kSansSerif, 13);
    sLabel35 = MakeLabel(sGroupBox1, "sLabel35", QRect(8, 28, 64, 21), "串口号：");
    cmbSoftPort = MakeComboBox<PortComboBox>(sGroupBox1, "cmbSoftPort", QRect(72, 28, 65, 24),
                                             DesignedPortItems(), 0);
    sLabel36 = MakeLabel(sGroupBox1, "sLabel36", QRect(8, 64, 64, 21), "波特率：");
    cmbSoftBaut =
        MakeComboBox(sGroupBox1, "cmbSoftBaut", QRect(72, 60, 65, 24),
                     {QStringLiteral("600"), QStringLiteral("1200"), QStringLiteral("2400"),
                      QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("19200"),
                      QStringLiteral("38400"), QStringLiteral("57600"), QStringLiteral("115200")},
                     2);
    lbl1 = MakeLabel(sGroupBox1, "lbl1", QRect(8, 100, 52, 21), "校验位:");
    cbbParity = MakeComboBox(sGroupBox1, "cbbParity", QRect(72, 92, 65, 24),
                             {QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even"),
                              QStringLiteral("Mark"), QStringLiteral("Space")},
                             2);
    for (QComboBox* combo : {cmbSoftPort, cmbSoftBaut, cbbParity}) {
        combo->setFont(portFont);
        SetTextColor(combo, QPalette::Text);
    }
    btnComPortEn =
        Place(new ImageButton(*slphmglst1, sGroupBox1), "btnComPortEn", QRect(56, 121, 89, 32));
    btnComPortEn->setText(QStringLiteral("打开串口"));
    btnComPortEn->SetImageIndex(kImagePortClosed);

    // Right top: command and traffic.
    sGroupBox2 = MakeGroupBox(this, "sGroupBox2", QRect(184, 24, 729, 313), "指令收发");
    sLabel1 = MakeLabel(sGroupBox2, "sLabel1", QRect(8, 28, 64, 21), "表地址：");
    edtAddr = MakeEdit(sGroupBox2, "edtAddr", QRect(72, 28, 129, 21),
                       QStringLiteral("AA AA AA AA AA AA AA"));
    sLabel2 = MakeLabel(sGroupBox2, "sLabel2", QRect(256, 28, 64, 21), "读指令：");
    cmbDI = MakeComboBox(sGroupBox2, "cmbDI", QRect(320, 28, 57, 21),
                         {QStringLiteral("90 1F"), QStringLiteral("1F 90")}, 1);
    sLabel3 = MakeLabel(sGroupBox2, "sLabel3", QRect(448, 28, 64, 21), "表类型：");
    cmbType = MakeComboBox(sGroupBox2, "cmbType", QRect(528, 28, 121, 21), MeterTypeItems(), 0);
    sLabel4 = MakeLabel(sGroupBox2, "sLabel4", QRect(8, 60, 80, 21), "发送数据：");
    edtCMD = MakeEdit(sGroupBox2, "edtCMD", QRect(88, 60, 369, 21), QString());
    ckbAutoSend = Place(new QCheckBox(QStringLiteral("定时发送"), sGroupBox2), "ckbAutoSend",
                        QRect(476, 61, 73, 17));
    edtAutoSendInteval =
        MakeEdit(sGroupBox2, "edtAutoSendInteval", QRect(556, 59, 49, 21), QStringLiteral("1000"));
    sLabel6 = MakeLabel(sGroupBox2, "sLabel6", QRect(612, 63, 37, 16), "ms/次 ");
    btnSend = Place(new QPushButton(QStringLiteral("发送"), sGroupBox2), "btnSend",
                    QRect(668, 55, 49, 25));
    sLabel5 = MakeLabel(sGroupBox2, "sLabel5", QRect(8, 92, 80, 21), "接收数据：");
    redtComRechex = MakeTextView(sGroupBox2, "redtComRechex", QRect(8, 111, 713, 170));
    ckbLR = Place(new QCheckBox(QStringLiteral("自动换行"), sGroupBox2), "ckbLR",
                  QRect(404, 285, 73, 17));
    ckbLR->setChecked(true);
    btnSaveComRec = Place(new QPushButton(QStringLiteral("保存窗口"), sGroupBox2), "btnSaveComRec",
                          QRect(520, 280, 75, 25));
    sButton1 = Place(new QPushButton(QStringLiteral("清空窗口"), sGroupBox2), "sButton1",
                     QRect(616, 280, 73, 25));

    // Right bottom: decoded data.
    sGroupBox3 = MakeGroupBox(this, "sGroupBox3", QRect(182, 344, 731, 169), "数据分析");
    redtDecode = MakeTextView(sGroupBox3, "redtDecode", QRect(8, 23, 715, 138));

    // Components without a place on screen.
    tmr1 = new QTimer(this);
    tmr1->setObjectName(QStringLiteral("tmr1"));
    tmr1->setTimerType(Qt::PreciseTimer);
    tmr1->setInterval(5);
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    sSaveDialog1 = new QFileDialog(this);
    sSaveDialog1->setObjectName(QStringLiteral("sSaveDialog1"));
    sSaveDialog1->setOption(QFileDialog::DontUseNativeDialog);
    sSaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    sSaveDialog1->setOption(QFileDialog::DontConfirmOverwrite);
    sSaveDialog1->setNameFilter(QStringLiteral("*.txt (*.txt)"));

    // The port component with the window's settings; every other property keeps its default
    // (no port number, no parity, 8 data bits, 1 stop bit, asking for a port).
    ComPort = std::make_unique<serial::TComPort>();
    ComPort->SetBaud(57600);
    ComPort->SetBufferFull(3686);
    ComPort->SetBufferResume(406);
    ComPort->SetTraceName("COMPORT.TRC");
    ComPort->SetLogName("COMPORT.LOG");
    ComPort->SetTapiMode(serial::tmOff);
    // The port opens only through the port button (or a change of its settings), with the
    // window's settings, so the display always tells the truth: a send to a closed port fails.
    ComPort->SetAutoOpen(false);

    CreateTrafficLogging();
    InstallOperationsWindow(*this);
    InstallWindowLayout(*this);
}

void TForm1::CreateTrafficLogging() {
    const auto tickBox = [this](const char* name, const char* text, QRect geometry) {
        return Place(new QCheckBox(QString::fromUtf8(text), sGroupBox2), name, geometry);
    };
    lblFrameGap = Place(new QLabel(QStringLiteral("帧间隔"), sGroupBox2), "lblFrameGap",
                        QRect(8, 285, 40, 17));
    edtFrameGap = Place(new QSpinBox(sGroupBox2), "edtFrameGap", QRect(50, 283, 48, 21));
    edtFrameGap->setButtonSymbols(QAbstractSpinBox::NoButtons);
    edtFrameGap->setRange(kShortestFrameGapMs, kLongestFrameGapMs);
    edtFrameGap->setValue(kDefaultFrameGapMs);
    edtFrameGap->setToolTip(
        QStringLiteral("线路静默这么久（毫秒）才算一帧结束；无线、GPRS 等帧内有停顿的链路可调大"));
    QuietTicks = protocol::QuietTicksOfGap(kDefaultFrameGapMs);
    lblFrameGapMs = Place(new QLabel(QStringLiteral("ms"), sGroupBox2), "lblFrameGapMs",
                          QRect(100, 285, 20, 17));
    ckbLogToFile = tickBox("ckbLogToFile", "记录到文件", QRect(236, 285, 88, 17));
    ckbLogToFile->setToolTip(QStringLiteral("每条收发记录带时间写入每日一个的记录文件"));
    ckbTimestamp = tickBox("ckbTimestamp", "时间戳", QRect(328, 285, 70, 17));
    ckbTimestamp->setToolTip(QStringLiteral("每行前加时间和方向，并显示发送的数据"));
}

void TForm1::CreatePortFollowing() {
    ckbAutoReconnect = new QCheckBox(QStringLiteral("自动重连"), sToolBar1);
    ckbAutoReconnect->setObjectName(QStringLiteral("ckbAutoReconnect"));
    ckbAutoReconnect->setToolTip(
        QStringLiteral("串口断开后等待同一串口号恢复，按当前设置重新打开并继续定时发送"));
    ckbAutoReconnect->setChecked(StoredAutoReconnect());
    sToolBar1->addSeparator();
    sToolBar1->addWidget(ckbAutoReconnect);
    PortWatch = new PortMapWatch(this);
    PortWatch->setObjectName(QStringLiteral("PortWatch"));
    Reconnect = new PortReconnect(PortWatch->Watching(), this);
    Reconnect->setObjectName(QStringLiteral("Reconnect"));
}

void TForm1::ConnectHandlers() {
    // Every handler runs through the error box, so nothing it throws reaches the event loop.
    const auto handler = [this](void (TForm1::*method)(QObject*), QObject* sender) {
        return [this, method, sender] { RunGuarded([&] { (this->*method)(sender); }); };
    };
    connect(edtAddr, &QLineEdit::textChanged, this, handler(&TForm1::edtAddrChange, edtAddr));
    connect(cmbType, &QComboBox::editTextChanged, this, handler(&TForm1::cmbTypeChange, cmbType));
    connect(cmbDI, &QComboBox::editTextChanged, this, handler(&TForm1::cmbDIChange, cmbDI));

    connect(btnComPortEn, &QPushButton::clicked, this,
            handler(&TForm1::btnComPortEnClick, btnComPortEn));
    connect(cmbSoftPort, &QComboBox::editTextChanged, this,
            handler(&TForm1::cmbSoftPortChange, cmbSoftPort));
    connect(cmbSoftBaut, &QComboBox::editTextChanged, this,
            handler(&TForm1::cmbSoftBautChange, cmbSoftBaut));
    connect(cbbParity, &QComboBox::editTextChanged, this,
            handler(&TForm1::cbbParityChange, cbbParity));
    connect(btnSend, &QPushButton::clicked, this, handler(&TForm1::btnSendClick, btnSend));
    connect(ckbAutoSend, &QCheckBox::toggled, this,
            handler(&TForm1::ckbAutoSendClick, ckbAutoSend));
    connect(Timer1, &QTimer::timeout, this, handler(&TForm1::Timer1Timer, Timer1));
    connect(tmr1, &QTimer::timeout, this, handler(&TForm1::tmr1Timer, tmr1));
    connect(sButton1, &QPushButton::clicked, this, handler(&TForm1::sButton1Click, sButton1));
    connect(btnSaveComRec, &QPushButton::clicked, this,
            handler(&TForm1::btnSaveComRecClick, btnSaveComRec));
    connect(ToolButton2, &QToolButton::clicked, this,
            handler(&TForm1::ToolButton2Click, ToolButton2));
    ComPort->SetOnTriggerAvail([this](serial::TComponent* cp, std::uint16_t count) {
        RunGuarded([&] { ComPortTriggerAvail(cp, count); });
    });
    ComPort->SetOnPortLost([this](serial::TComponent* cp, const std::string& cause) {
        RunGuarded([&] { ComPortPortLost(cp, cause); });
    });
    connect(redtComRechex, &RichTextView::LinesRewrapped, this,
            [] { RunGuarded(KeepInsertionPointAtEnd); });

    connect(ckbLogToFile, &QCheckBox::toggled, this,
            handler(&TForm1::ckbLogToFileClick, ckbLogToFile));
    connect(edtFrameGap, &QSpinBox::valueChanged, this,
            handler(&TForm1::edtFrameGapChange, edtFrameGap));
    connect(ckbAutoReconnect, &QCheckBox::toggled, this,
            handler(&TForm1::ckbAutoReconnectClick, ckbAutoReconnect));
    connect(PortWatch, &PortMapWatch::Changed, this, [this] {
        RunGuarded(RefreshPortList);
        RunGuarded([this] { Reconnect->PortMapChanged(); });
    });
    connect(static_cast<PortComboBox*>(cmbSoftPort), &PortComboBox::PopupAboutToShow, this,
            [] { RunGuarded(RefreshPortList); });
    InstallKeyboard(*this);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    sToolBar1->setGeometry(0, 0, width(), kToolBarHeight);
    sStatusBar1->setGeometry(0, height() - kStatusBarHeight, width(), kStatusBarHeight);
}

void TForm1::FormCreate(QObject* /*Sender*/) {
    PortList = ListSerialPorts();
    ShowPortList(PortList);
    if (!PortList.isEmpty()) {
        // Choosing the first port is no change made by the user: its handler does not run.
        const QSignalBlocker blocker(cmbSoftPort);
        cmbSoftPort->setCurrentIndex(0);
    }
    RefreshCommand();
}

} // namespace mbus::console

#include "console/meter_list_pane.h"

#include "console/file_dialog.h"

#include "console/combo_selection.h"
#include "console/error_box.h"
#include "console/exchange_monitor.h"
#include "console/main_window.h"
#include "console/message_box.h"
#include "console/meter_list_messages.h"
#include "console/meter_list_table.h"
#include "console/meter_round.h"
#include "console/operation_sequence.h"
#include "console/sending.h"
#include "console/status_bar.h"
#include "console/traffic_file.h"
#include "protocol/meter_type.h"
#include "protocol/read_address.h"
#include "protocol/read_frame.h"
#include "serial/com_port.h"
#include "util/gbk_text.h"
#include "util/string_c.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace mbus::console {
namespace {

// The largest list file read: far more than the 250 meters one line carries.
constexpr qint64 kLongestListFile = 1024 * 1024;
// The errors of a loaded list said one by one; a file with more is hardly a meter list.
constexpr std::size_t kErrorsSaid = 20;
// The identifier of the current counters, when 读指令 names none of its items.
constexpr protocol::DataIdentifier kDefaultReadId{0x1F, 0x90};

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text,
                        const QString& toolTip = QString()) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(toolTip);
    return button;
}

// The identifier the round reads: that of 读指令 when it is one of its items (the current
// counters, in the byte order the meters take), else 1F 90.
protocol::DataIdentifier RoundDataId(const TForm1& form) {
    if (SelectedItemIndex(*form.cmbDI) < 0)
        return kDefaultReadId;
    const std::string id =
        util::HexToBytes(util::Utf8ToGbk(form.cmbDI->currentText().toStdString()));
    if (id.size() != protocol::kDataIdSize)
        return kDefaultReadId;
    return {static_cast<std::uint8_t>(id[0]), static_cast<std::uint8_t>(id[1])};
}

MeterRound::Meter RoundMeterOf(const protocol::ListedMeter& listed,
                               const protocol::DataIdentifier& dataId) {
    std::array<std::uint8_t, protocol::kAddressSize> typed;
    std::reverse_copy(listed.Address.begin(), listed.Address.end(), typed.begin());
    protocol::ReadFrameBuffer frame{};
    protocol::BuildReadFrame(frame, typed, *protocol::MeterTypeCode(listed.TypePosition),
                             protocol::kControlRead, dataId);
    std::string label = protocol::AddressText(listed.Address);
    if (!listed.Name.empty())
        label += "（" + listed.Name + "）";
    return {std::move(label), listed.Name, std::string(frame.begin(), frame.end())};
}

} // namespace

MeterListPane::MeterListPane(TForm1& form, QWidget* parent)
    : QGroupBox(QString::fromUtf8(kMeterListCaption), parent), Form_(form) {
    setObjectName(QStringLiteral("grpMeterList"));
    tblMeterList = new MeterListTable(this);
    btnOpenMeterList = MakeButton(this, "btnOpenMeterList", QStringLiteral("打开清单"),
                                  QStringLiteral("读入表计清单文件（CSV：表地址,表类型[,名称]）"));
    btnSaveMeterList = MakeButton(this, "btnSaveMeterList", QStringLiteral("保存清单"));
    btnNewMeter = MakeButton(this, "btnNewMeter", QStringLiteral("新增"),
                             QStringLiteral("在清单末尾加一行，填入表地址、表类型和名称"));
    btnAddMainMeter =
        MakeButton(this, "btnAddMainMeter", QStringLiteral("添加主窗口表"),
                   QStringLiteral("加入主窗口的表地址和表类型（读表地址之后即为找到的表）"));
    btnAddFoundMeter =
        MakeButton(this, "btnAddFoundMeter", QStringLiteral("读表地址"),
                   QStringLiteral("读线路上唯一一块表的地址，加入清单（线路上只能有一块表）"));
    btnRemoveMeters =
        MakeButton(this, "btnRemoveMeters", QStringLiteral("删除"), QStringLiteral("删除选中的行"));
    btnRound = MakeButton(this, "btnRound", QStringLiteral("开始轮抄"),
                          QStringLiteral("依次读清单中的每块表，线路上同一时刻只有一个请求"));
    ckbRoundRepeat = new QCheckBox(QStringLiteral("每"), this);
    ckbRoundRepeat->setObjectName(QStringLiteral("ckbRoundRepeat"));
    edtRoundPeriod = new QSpinBox(this);
    edtRoundPeriod->setObjectName(QStringLiteral("edtRoundPeriod"));
    edtRoundPeriod->setRange(1, 86400);
    edtRoundPeriod->setValue(60);
    edtRoundPeriod->setSuffix(QStringLiteral(" 秒"));
    edtRoundPeriod->setToolTip(
        QStringLiteral("从一轮开始到下一轮开始；一轮用时更长时下一轮紧接着开始"));
    lblRoundProgress = new QLabel(this);
    lblRoundProgress->setObjectName(QStringLiteral("lblRoundProgress"));
    lblRoundSummary = new QLabel(this);
    lblRoundSummary->setObjectName(QStringLiteral("lblRoundSummary"));
    lblRoundSummary->setWordWrap(true);
    lblRoundSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* listBar = new QHBoxLayout;
    for (QPushButton* button : {btnOpenMeterList, btnSaveMeterList, btnNewMeter, btnAddMainMeter,
                                btnAddFoundMeter, btnRemoveMeters})
        listBar->addWidget(button);
    listBar->addStretch();
    auto* roundBar = new QHBoxLayout;
    roundBar->addWidget(btnRound);
    roundBar->addSpacing(8);
    roundBar->addWidget(ckbRoundRepeat);
    roundBar->addWidget(edtRoundPeriod);
    roundBar->addWidget(new QLabel(QStringLiteral("重复一轮"), this));
    roundBar->addStretch();
    roundBar->addWidget(lblRoundProgress);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(listBar);
    layout->addWidget(tblMeterList, 1);
    layout->addLayout(roundBar);
    layout->addWidget(lblRoundSummary);

    dlgMeterList = new QFileDialog(this);
    dlgMeterList->setObjectName(QStringLiteral("dlgMeterList"));
    dlgMeterList->setOption(QFileDialog::DontUseNativeDialog);
    dlgMeterList->setNameFilter(QStringLiteral("表计清单 (*.csv)"));
    dlgMeterList->setDefaultSuffix(QStringLiteral("csv"));

    Round = new MeterRound(
        *form.Exchanges, [](const std::string& bytes) { return SendRequest(bytes); }, this);
    AddressSearch = new OperationSequence(*form.Exchanges, SendRequest, this);

    connect(btnOpenMeterList, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { OpenList(); }); });
    connect(btnSaveMeterList, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { SaveListAs(); }); });
    connect(btnNewMeter, &QPushButton::clicked, this, [this] {
        const int row = tblMeterList->AddRow(QString(), QString(), QString());
        tblMeterList->setCurrentCell(row, MeterListTable::kAddressColumn);
        tblMeterList->editItem(tblMeterList->item(row, MeterListTable::kAddressColumn));
    });
    connect(btnAddMainMeter, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { AddMainWindowMeter(); }); });
    connect(btnAddFoundMeter, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { AddFoundMeter(); }); });
    connect(AddressSearch, &OperationSequence::SendFailed, this,
            [this] { lblRoundProgress->setText(QStringLiteral("读表地址：串口未打开")); });
    connect(btnRemoveMeters, &QPushButton::clicked, tblMeterList,
            &MeterListTable::RemoveSelectedRows);
    connect(btnRound, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { RoundsRunning() ? StopRounds() : StartRounds(); }); });
    connect(tblMeterList, &MeterListTable::Edited, this, [this] {
        Modified_ = true;
        ShowTitle();
    });
    connect(Round, &MeterRound::RoundStarted, this, [this](int number) {
        RoundRead_ = 0;
        lblRoundProgress->setText(QStringLiteral("第 %1 轮：0/%2").arg(number).arg(RoundMeters_));
    });
    connect(Round, &MeterRound::MeterRead, this, [this](const protocol::Exchange& exchange) {
        tblMeterList->ShowRead(exchange);
        if (!Round->Running())
            return;
        ++RoundRead_;
        QString text = lblRoundProgress->text();
        text.truncate(text.indexOf(QStringLiteral("：")) + 1);
        lblRoundProgress->setText(text + QStringLiteral("%1/%2").arg(RoundRead_).arg(RoundMeters_));
    });
    connect(Round, &MeterRound::RoundEnded, this, [this](const MeterRound::Summary& summary) {
        lblRoundSummary->setText(summary.Text);
        if (Round->Running())
            lblRoundProgress->setText(QStringLiteral("等待下一轮"));
    });
    connect(Round, &MeterRound::Finished, this, &MeterListPane::RoundsFinished);
    // A line lost under the port ends the rounds before the window reports the loss.
    connect(&form, &TForm1::PortLost, this, [this] { Round->Stop(QStringLiteral("串口已断开")); });
    ShowRoundsState();
    ShowTitle();
}

bool MeterListPane::LoadList(const QString& path) {
    QFile file(path);
    const QString shown = QFileInfo(path).fileName();
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        ShowMessageBox(QStringLiteral("无法读取表计清单“%1”：%2")
                           .arg(path, QFileInfo(path).isDir() ? QStringLiteral("这是一个文件夹")
                                                              : file.errorString()),
                       QStringLiteral("错误"), QMessageBox::Critical);
        return false;
    }
    const QByteArray bytes = file.read(kLongestListFile + 1);
    if (bytes.size() > kLongestListFile) {
        ShowMessageBox(QStringLiteral("表计清单“%1”大于 %2 KiB，不像是表计清单，未读入")
                           .arg(path)
                           .arg(kLongestListFile / 1024),
                       QStringLiteral("错误"), QMessageBox::Critical);
        return false;
    }
    const protocol::MeterList list =
        protocol::ParseMeterList(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    tblMeterList->SetList(list);
    FileName_ = path;
    Modified_ = false;
    ShowTitle();
    lblRoundSummary->clear();
    if (list.Errors.empty())
        return true;
    QString text = QStringLiteral("表计清单“%1”中有 %2 处错误；已读入 %3 块表，有错的行留在清单中"
                                  "（标红），改正前不参与轮抄：\n")
                       .arg(shown)
                       .arg(list.Errors.size())
                       .arg(list.Meters.size());
    for (std::size_t i = 0; i < list.Errors.size() && i < kErrorsSaid; ++i)
        text += QLatin1Char('\n') + MeterListErrorText(list.Errors[i]);
    if (list.Errors.size() > kErrorsSaid)
        text += QStringLiteral("\n……另有 %1 处错误").arg(list.Errors.size() - kErrorsSaid);
    ShowMessageBox(text, QString::fromUtf8(kMeterListCaption), QMessageBox::Warning);
    return true;
}

void MeterListPane::SaveList(const QString& path) {
    WriteTrafficFile(path.toStdString(), tblMeterList->ListText());
    FileName_ = path;
    Modified_ = false;
    ShowTitle();
}

void MeterListPane::OpenList() {
    if (Modified_ && tblMeterList->rowCount() > 0 &&
        ShowMessageBox(QStringLiteral("表计清单已修改，尚未保存。放弃修改，打开另一个清单吗？"),
                       QString::fromUtf8(kMeterListCaption), QMessageBox::Question,
                       QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    dlgMeterList->setWindowTitle(QStringLiteral("打开表计清单"));
    dlgMeterList->setAcceptMode(QFileDialog::AcceptOpen);
    dlgMeterList->setFileMode(QFileDialog::ExistingFile);
    dlgMeterList->setDirectory(FileName_.isEmpty() ? UserDocumentsFolder()
                                                   : QFileInfo(FileName_).absolutePath());
    dlgMeterList->selectFile(QString()); // a name typed now is not added to the last one
    if (!RunFileDialog(*dlgMeterList))
        return;
    LoadList(dlgMeterList->selectedFiles().front());
}

bool MeterListPane::SaveListAs() {
    dlgMeterList->setWindowTitle(QStringLiteral("保存表计清单"));
    dlgMeterList->setAcceptMode(QFileDialog::AcceptSave);
    dlgMeterList->setFileMode(QFileDialog::AnyFile);
    if (FileName_.isEmpty()) {
        dlgMeterList->setDirectory(UserDocumentsFolder());
        dlgMeterList->selectFile(QStringLiteral("表计清单.csv"));
    } else {
        dlgMeterList->setDirectory(QFileInfo(FileName_).absolutePath());
        dlgMeterList->selectFile(QFileInfo(FileName_).fileName());
    }
    if (!RunFileDialog(*dlgMeterList))
        return false;
    SaveList(dlgMeterList->selectedFiles().front());
    return true;
}

void MeterListPane::AddMainWindowMeter() {
    const std::string typed =
        util::HexToBytes(util::Utf8ToGbk(Form_.edtAddr->text().toStdString()));
    if (typed.size() != protocol::kAddressSize) {
        ShowMessageBox(
            QStringLiteral("主窗口的表地址不是 7 个字节（14 位十六进制数字），未加入清单"),
            QString::fromUtf8(kMeterListCaption), QMessageBox::Warning);
        return;
    }
    if (std::all_of(typed.begin(), typed.end(), [](char c) { return std::uint8_t(c) == 0xAA; })) {
        ShowMessageBox(
            QStringLiteral("主窗口的表地址是通配地址 AA AA AA AA AA AA AA，任何表都会应答，"
                           "未加入清单。先用读表地址找到表，或填入表的地址"),
            QString::fromUtf8(kMeterListCaption), QMessageBox::Warning);
        return;
    }
    const int type = SelectedItemIndex(*Form_.cmbType);
    if (!protocol::MeterTypeCode(type)) {
        ShowMessageBox(QStringLiteral("主窗口没有选定表类型，未加入清单"),
                       QString::fromUtf8(kMeterListCaption), QMessageBox::Warning);
        return;
    }
    protocol::LineAddress address;
    std::reverse_copy(typed.begin(), typed.end(), address.begin());
    AddMeter(address, type);
}

bool MeterListPane::AddMeter(const protocol::LineAddress& address, int typePosition) {
    int row = 0;
    const auto listed = tblMeterList->RowOf(address, typePosition);
    if (listed) {
        row = *listed;
    } else {
        row = tblMeterList->AddRow(QString::fromStdString(protocol::AddressText(address)),
                                   Utf8(protocol::MeterTypes()[typePosition].ItemText), QString());
    }
    // The name is what the engineer adds next.
    tblMeterList->setCurrentCell(row, MeterListTable::kNameColumn);
    tblMeterList->scrollToItem(tblMeterList->item(row, MeterListTable::kNameColumn));
    return !listed;
}

void MeterListPane::AddFoundMeter() {
    const QString caption = QString::fromUtf8(kMeterListCaption);
    if (!Form_.ComPort->Open()) {
        ShowMessageBox(QStringLiteral("串口未打开：请先在主窗口选择串口并打开，再读表地址。"),
                       caption, QMessageBox::Warning);
        return;
    }
    if (Form_.Timer1->isActive()) {
        ShowMessageBox(QStringLiteral("主窗口正在定时发送：请先停止定时发送，再读表地址。"),
                       caption, QMessageBox::Warning);
        return;
    }
    if (AddressSearch->Busy())
        return;
    lblRoundProgress->setText(QStringLiteral("读表地址…"));
    const std::vector<std::uint8_t> request = protocol::BuildReadAddressRequest();
    AddressSearch->Add({QStringLiteral("读表地址"), std::string(request.begin(), request.end()),
                        [this](const protocol::Exchange& exchange) { FoundMeter(exchange); }});
}

void MeterListPane::FoundMeter(const protocol::Exchange& exchange) {
    const auto& reply = exchange.Reply;
    const std::optional<int> type = reply && reply->TypeCode
                                        ? protocol::MeterTypePositionOfCode(*reply->TypeCode)
                                        : std::nullopt;
    if (protocol::Failed(exchange.Outcome) || !reply ||
        reply->Kind != protocol::ReplyKind::ReadAddress || !reply->Address || !type) {
        lblRoundProgress->setText(QStringLiteral("读表地址：") +
                                  (protocol::Failed(exchange.Outcome)
                                       ? Utf8(protocol::VerdictText(exchange.Outcome))
                                       : QStringLiteral("应答中没有已知类型的表地址")));
        return;
    }
    const bool added = AddMeter(*reply->Address, *type);
    lblRoundProgress->setText(
        QStringLiteral("读表地址：找到 %1（%2）%3")
            .arg(QString::fromStdString(protocol::AddressText(*reply->Address)),
                 Utf8(protocol::MeterTypes()[*type].ItemText),
                 added ? QStringLiteral("，已加入清单") : QStringLiteral("，清单中已有")));
}

void MeterListPane::StartRounds() {
    const std::vector<MeterListTable::RowMeter> listed = tblMeterList->Meters();
    if (listed.empty()) {
        ShowMessageBox(tblMeterList->Errors().empty()
                           ? QStringLiteral("表计清单中没有表：先打开清单或加入表")
                           : QStringLiteral("表计清单中没有可读的表：有错的行（标红）须先改正"),
                       QString::fromUtf8(kMeterListCaption), QMessageBox::Warning);
        return;
    }
    if (Form_.ckbAutoSend->isChecked()) {
        // Its handler stops Timer1 (and a timed send held back goes with it).
        Form_.ckbAutoSend->setChecked(false);
        Form_.sStatusBar1->SetMessage(QStringLiteral("定时发送已停止：轮抄开始"));
    }
    // Ticking 定时发送 stops the rounds. (The pane is made before the main window's controls,
    // so it listens from the first round on.)
    connect(Form_.ckbAutoSend, &QCheckBox::toggled, this, &MeterListPane::AutoSendToggled,
            Qt::UniqueConnection);
    const protocol::DataIdentifier dataId = RoundDataId(Form_);
    std::vector<MeterRound::Meter> meters;
    meters.reserve(listed.size());
    for (const MeterListTable::RowMeter& meter : listed)
        meters.push_back(RoundMeterOf(meter.Meter, dataId));
    RoundMeters_ = static_cast<int>(meters.size());
    tblMeterList->SetEditable(false);
    ShowRoundsState();
    if (!Round->Start(std::move(meters),
                      ckbRoundRepeat->isChecked() ? edtRoundPeriod->value() * 1000 : 0))
        ShowMessageBox(QStringLiteral("错误：串口未打开"), QStringLiteral("错误"),
                       QMessageBox::Critical);
    ShowRoundsState();
}

void MeterListPane::StopRounds() {
    Round->Stop();
}

bool MeterListPane::RoundsRunning() const {
    return Round->Running();
}

void MeterListPane::RoundsFinished(const QString& why) {
    tblMeterList->SetEditable(true);
    lblRoundProgress->clear();
    if (!why.isEmpty()) {
        const QString said = QStringLiteral("轮抄已停止：") + why;
        lblRoundProgress->setText(said);
        Form_.sStatusBar1->SetMessage(said);
    }
    ShowRoundsState();
}

void MeterListPane::AutoSendToggled(bool on) {
    if (on)
        Round->Stop(QStringLiteral("定时发送开始"));
}

void MeterListPane::ShowRoundsState() {
    const bool running = Round->Running();
    btnRound->setText(running ? QStringLiteral("停止") : QStringLiteral("开始轮抄"));
    for (QWidget* control : std::initializer_list<QWidget*>{
             btnOpenMeterList, btnNewMeter, btnAddMainMeter, btnAddFoundMeter, btnRemoveMeters,
             ckbRoundRepeat, edtRoundPeriod})
        control->setEnabled(!running);
}

void MeterListPane::ShowTitle() {
    QString title = QString::fromUtf8(kMeterListCaption);
    if (!FileName_.isEmpty())
        title += QStringLiteral("（%1）").arg(QFileInfo(FileName_).fileName());
    if (Modified_)
        title += QStringLiteral(" *");
    setTitle(title);
}

} // namespace mbus::console

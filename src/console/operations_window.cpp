#include "console/operations_window.h"

#include "console/combo_selection.h"
#include "console/error_box.h"
#include "console/main_window.h"
#include "console/message_box.h"
#include "console/operation_result.h"
#include "console/sending.h"
#include "protocol/meter_type.h"
#include "protocol/read_address.h"
#include "serial/com_port.h"
#include "util/gbk_text.h"
#include "util/string_c.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>

namespace mbus::console {
namespace {

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The bytes the hex digits of a typed text give, scanned as the GBK bytes the console's typed
// texts are.
std::string TypedBytes(const QString& text) {
    return util::HexToBytes(util::Utf8ToGbk(text.toStdString()));
}

// An address as typed in 表地址: seven pairs of digits, most significant byte first.
QString TypedAddress(const protocol::LineAddress& address) {
    return QString::fromStdString(util::GroupHexPairs(protocol::AddressText(address)));
}

protocol::LineAddress LineAddressOf(const std::string& typed) {
    protocol::LineAddress address;
    std::reverse_copy(typed.begin(), typed.end(), address.begin());
    return address;
}

bool IsWildcard(const protocol::LineAddress& address) {
    return std::all_of(address.begin(), address.end(),
                       [](std::uint8_t b) { return b == protocol::kWildcardByte; });
}

// The meter as the confirmations name it.
QString MeterName(const protocol::MeterTarget& meter) {
    const auto type = protocol::MeterTypeText(meter.TypeCode);
    const QString typeName =
        type ? Utf8(*type) : QString::fromStdString(protocol::TypeCodeText(meter.TypeCode));
    if (IsWildcard(meter.Address))
        return QStringLiteral("线路上应答的表（通配地址 %1，%2）")
            .arg(QString::fromStdString(protocol::AddressText(meter.Address)), typeName);
    return QStringLiteral("表 %1（%2）")
        .arg(QString::fromStdString(protocol::AddressText(meter.Address)), typeName);
}

protocol::MeterClock ClockOf(const QDateTime& time) {
    const QDate date = time.date();
    const QTime clock = time.time();
    return {date.year(), date.month(), date.day(), clock.hour(), clock.minute(), clock.second()};
}

QString ClockText(const protocol::MeterClock& clock) {
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(clock.Year, 4, 10, QLatin1Char('0'))
        .arg(clock.Month, 2, 10, QLatin1Char('0'))
        .arg(clock.Day, 2, 10, QLatin1Char('0'))
        .arg(clock.Hour, 2, 10, QLatin1Char('0'))
        .arg(clock.Minute, 2, 10, QLatin1Char('0'))
        .arg(clock.Second, 2, 10, QLatin1Char('0'));
}

// The meter's clock in a reply of the current counters (YYYYMMDDhhmmss), when it holds a valid
// one.
std::optional<protocol::MeterClock> MeterClockOf(const protocol::Exchange& exchange) {
    if (!exchange.Reply || !exchange.Reply->Decoded())
        return std::nullopt;
    for (const protocol::FieldReading& field : exchange.Reply->Fields) {
        const std::string& digits = field.Value;
        if (field.Kind != protocol::FieldKind::Clock || digits.size() != 14 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const auto part = [&digits](std::size_t at, std::size_t size) {
            return std::atoi(digits.substr(at, size).c_str());
        };
        const protocol::MeterClock clock{part(0, 4), part(4, 2),  part(6, 2),
                                         part(8, 2), part(10, 2), part(12, 2)};
        if (protocol::IsValidClock(clock))
            return clock;
    }
    return std::nullopt;
}

// How far the meter's clock is ahead of (表快) or behind (表慢) this computer's.
QString OffsetText(std::int64_t meterAhead) {
    if (meterAhead == 0)
        return QStringLiteral("与本机一致（偏差 0 秒）");
    const std::int64_t seconds = meterAhead < 0 ? -meterAhead : meterAhead;
    QString text = QStringLiteral("%1 %2 秒")
                       .arg(meterAhead > 0 ? QStringLiteral("表快") : QStringLiteral("表慢"))
                       .arg(seconds);
    if (seconds >= 60) {
        const std::int64_t days = seconds / 86400;
        QString span = QStringLiteral("%1:%2:%3")
                           .arg(seconds / 3600 % 24, 2, 10, QLatin1Char('0'))
                           .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                           .arg(seconds % 60, 2, 10, QLatin1Char('0'));
        if (days > 0)
            span = QStringLiteral("%1 天 ").arg(days) + span;
        text += QStringLiteral("（%1）").arg(span);
    }
    return text;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

QSpinBox* MakeDayBox(QWidget* parent, const char* name, int day) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(1, 31);
    box->setValue(day);
    box->setSuffix(QStringLiteral(" 日"));
    return box;
}

enum ResultColumn { ColTime, ColAddress, ColOperation, ColOutcome, ColItem, ColValue, ColRaw };

const QColor kFailedColor(0xC0, 0x00, 0x00);
const QColor kGoodColor(0x00, 0x80, 0x00);

} // namespace

OperationsWindow::OperationsWindow(TForm1& form) : QWidget(&form, Qt::Window), Form_(form) {
    setObjectName(QStringLiteral("OperationsWindow"));
    setWindowTitle(QString::fromUtf8(kOperationsCaption));
    resize(900, 600);

    edtMeterAddress = new QLineEdit(this);
    edtMeterAddress->setObjectName(QStringLiteral("edtMeterAddress"));
    edtMeterAddress->setMinimumWidth(170);
    edtMeterAddress->setToolTip(
        QStringLiteral("14 位十六进制数字，高字节在前；AA AA AA AA AA AA AA：线路上唯一的表"));
    cmbMeterType = new QComboBox(this);
    cmbMeterType->setObjectName(QStringLiteral("cmbMeterType"));
    for (const protocol::MeterType& type : protocol::MeterTypes())
        cmbMeterType->addItem(Utf8(type.ItemText));
    cmbIdOrder = new QComboBox(this);
    cmbIdOrder->setObjectName(QStringLiteral("cmbIdOrder"));
    cmbIdOrder->addItems(
        {QStringLiteral("高字节在前（A0 17）"), QStringLiteral("低字节在前（17 A0）")});
    cmbIdOrder->setToolTip(QStringLiteral("请求中数据标识的字节顺序；两种顺序的应答都能识别"));
    auto* meterRow = new QHBoxLayout;
    meterRow->addWidget(new QLabel(QStringLiteral("表地址："), this));
    meterRow->addWidget(edtMeterAddress);
    meterRow->addSpacing(12);
    meterRow->addWidget(new QLabel(QStringLiteral("表类型："), this));
    meterRow->addWidget(cmbMeterType);
    meterRow->addSpacing(12);
    meterRow->addWidget(new QLabel(QStringLiteral("标识字节顺序："), this));
    meterRow->addWidget(cmbIdOrder);
    meterRow->addStretch();

    auto* reads = new QGroupBox(QStringLiteral("读"), this);
    btnReadAddress = MakeButton(reads, "btnReadAddress", "读表地址");
    btnReadAddress->setToolTip(QStringLiteral("线路上只能有一块表；应答填入表地址和表类型"));
    btnReadCurrent = MakeButton(reads, "btnReadCurrent", "读当前数据");
    btnReadPrices = MakeButton(reads, "btnReadPrices", "读价格表");
    btnReadKeyVersion = MakeButton(reads, "btnReadKeyVersion", "读密钥版本");
    btnReadSettlementDay = MakeButton(reads, "btnReadSettlementDay", "读结算日");
    btnReadReadingDay = MakeButton(reads, "btnReadReadingDay", "读抄表日");
    btnReadPurchase = MakeButton(reads, "btnReadPurchase", "读购入记录");
    cmbHistoryMonth = new QComboBox(reads);
    cmbHistoryMonth->setObjectName(QStringLiteral("cmbHistoryMonth"));
    for (int month = 1; month <= protocol::kHistoryMonths; ++month)
        cmbHistoryMonth->addItem(QStringLiteral("上%1月").arg(month));
    cmbHistoryMonth->addItem(QStringLiteral("全部12个月"));
    btnReadHistory = MakeButton(reads, "btnReadHistory", "读历史数据");
    edtDataId = new QLineEdit(QStringLiteral("90 1F"), reads);
    edtDataId->setObjectName(QStringLiteral("edtDataId"));
    edtDataId->setMaximumWidth(70);
    edtDataId->setToolTip(QStringLiteral("任一数据标识，高字节在前，按所选字节顺序发送"));
    btnReadDataId = MakeButton(reads, "btnReadDataId", "读标识");
    auto* readGrid = new QGridLayout(reads);
    readGrid->addWidget(btnReadAddress, 0, 0);
    readGrid->addWidget(btnReadCurrent, 0, 1);
    readGrid->addWidget(btnReadPrices, 0, 2);
    readGrid->addWidget(btnReadKeyVersion, 0, 3);
    readGrid->addWidget(btnReadSettlementDay, 1, 0);
    readGrid->addWidget(btnReadReadingDay, 1, 1);
    readGrid->addWidget(btnReadPurchase, 1, 2);
    readGrid->addWidget(cmbHistoryMonth, 2, 0);
    readGrid->addWidget(btnReadHistory, 2, 1);
    readGrid->addWidget(edtDataId, 2, 2);
    readGrid->addWidget(btnReadDataId, 2, 3);

    auto* writes = new QGroupBox(QStringLiteral("写（执行前确认）"), this);
    btnOpenValve = MakeButton(writes, "btnOpenValve", "开阀");
    btnCloseValve = MakeButton(writes, "btnCloseValve", "关阀");
    btnSetClock = MakeButton(writes, "btnSetClock", "校时");
    btnSetClock->setToolTip(QStringLiteral("先读表时钟，再校准为本机时间"));
    edtSettlementDay = MakeDayBox(writes, "edtSettlementDay", 1);
    btnSetSettlementDay = MakeButton(writes, "btnSetSettlementDay", "设置结算日");
    edtReadingDay = MakeDayBox(writes, "edtReadingDay", 20);
    btnSetReadingDay = MakeButton(writes, "btnSetReadingDay", "设置抄表日");
    edtNewAddress = new QLineEdit(writes);
    edtNewAddress->setObjectName(QStringLiteral("edtNewAddress"));
    edtNewAddress->setPlaceholderText(QStringLiteral("新地址"));
    edtNewAddress->setMinimumWidth(170);
    btnSetAddress = MakeButton(writes, "btnSetAddress", "设置地址");
    auto* writeGrid = new QGridLayout(writes);
    writeGrid->addWidget(btnOpenValve, 0, 0);
    writeGrid->addWidget(btnCloseValve, 0, 1);
    writeGrid->addWidget(btnSetClock, 0, 2);
    writeGrid->addWidget(edtSettlementDay, 1, 0);
    writeGrid->addWidget(btnSetSettlementDay, 1, 1);
    writeGrid->addWidget(edtReadingDay, 1, 2);
    writeGrid->addWidget(btnSetReadingDay, 1, 3);
    writeGrid->addWidget(edtNewAddress, 2, 0, 1, 2);
    writeGrid->addWidget(btnSetAddress, 2, 2);

    auto* groups = new QHBoxLayout;
    groups->addWidget(reads);
    groups->addWidget(writes);

    tblResults = new QTableWidget(0, 7, this);
    tblResults->setObjectName(QStringLiteral("tblResults"));
    tblResults->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("表地址"),
                                           QStringLiteral("操作"), QStringLiteral("结果"),
                                           QStringLiteral("项目"), QStringLiteral("数值"),
                                           QStringLiteral("原始数据")});
    tblResults->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblResults->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblResults->verticalHeader()->hide();
    tblResults->verticalHeader()->setDefaultSectionSize(tblResults->fontMetrics().height() + 6);
    tblResults->horizontalHeader()->setStretchLastSection(true);
    for (int column = 0; column < tblResults->columnCount(); ++column)
        Widen(column, tblResults->horizontalHeaderItem(column)->text());

    lblProgress = new QLabel(this);
    lblProgress->setObjectName(QStringLiteral("lblProgress"));
    btnStop = MakeButton(this, "btnStop", "停止");
    btnStop->setToolTip(QStringLiteral("不再发送排队的请求；已发出的请求仍等待应答"));
    btnStop->setEnabled(false);
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(lblProgress, 1);
    progressRow->addWidget(btnStop);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(meterRow);
    layout->addLayout(groups);
    layout->addWidget(tblResults, 1);
    layout->addLayout(progressRow);

    Sequence = new OperationSequence(*form.Exchanges, SendRequest, this);
    connect(Sequence, &OperationSequence::Answered, this, &OperationsWindow::ShowAnswer);
    connect(Sequence, &OperationSequence::SendFailed, this, &OperationsWindow::ShowNotSent);
    connect(Sequence, &OperationSequence::Progressed, this, &OperationsWindow::ShowProgress);

    // Every handler runs through the error box, so nothing it throws reaches the event loop.
    const auto on = [this](QPushButton* button, auto method) {
        connect(button, &QPushButton::clicked, this, [this, method] { RunGuarded(method); });
    };
    on(btnReadAddress, [this] { ReadAddress(); });
    on(btnReadCurrent,
       [this] { ReadData(QStringLiteral("读当前数据"), protocol::kCurrentDataId); });
    on(btnReadHistory, [this] { ReadHistory(); });
    on(btnReadPrices, [this] { ReadData(QStringLiteral("读价格表"), protocol::kPriceTableId); });
    on(btnReadSettlementDay,
       [this] { ReadData(QStringLiteral("读结算日"), protocol::kSettlementDayId); });
    on(btnReadReadingDay,
       [this] { ReadData(QStringLiteral("读抄表日"), protocol::kReadingDayId); });
    on(btnReadPurchase,
       [this] { ReadData(QStringLiteral("读购入记录"), protocol::kPurchaseRecordId); });
    on(btnReadKeyVersion, [this] { ReadKeyVersion(); });
    on(btnReadDataId, [this] { ReadDataId(); });
    on(btnOpenValve, [this] { SetValve(protocol::ValveAction::Open); });
    on(btnCloseValve, [this] { SetValve(protocol::ValveAction::Close); });
    on(btnSetClock, [this] { SetClock(); });
    on(btnSetSettlementDay, [this] { SetDay(protocol::MeterDay::Settlement); });
    on(btnSetReadingDay, [this] { SetDay(protocol::MeterDay::Reading); });
    on(btnSetAddress, [this] { SetAddress(); });
    on(btnStop, [this] { Sequence->Cancel(); });

    // The window names the main window's meter whenever that changes.
    connect(form.edtAddr, &QLineEdit::textChanged, this, &OperationsWindow::FollowMainWindow);
    connect(form.cmbType, &QComboBox::editTextChanged, this, &OperationsWindow::FollowMainWindow);
    FollowMainWindow();
}

void OperationsWindow::Open() {
    FollowMainWindow();
    show();
    raise();
    activateWindow();
}

void OperationsWindow::FollowMainWindow() {
    if (edtMeterAddress->text() != Form_.edtAddr->text())
        edtMeterAddress->setText(Form_.edtAddr->text());
    if (const int type = SelectedItemIndex(*Form_.cmbType); type >= 0)
        cmbMeterType->setCurrentIndex(type);
}

bool OperationsWindow::MayStart() {
    const QString caption = QString::fromUtf8(kOperationsCaption);
    if (!Form_.ComPort->Open()) {
        ShowMessageBox(QStringLiteral("串口未打开：请先在主窗口选择串口并打开，再操作表。"),
                       caption, QMessageBox::Warning);
        return false;
    }
    if (Form_.Timer1->isActive()) {
        ShowMessageBox(QStringLiteral("主窗口正在定时发送：请先停止定时发送，再操作表。"), caption,
                       QMessageBox::Warning);
        return false;
    }
    return true;
}

std::optional<protocol::MeterTarget> OperationsWindow::Meter() {
    const std::string typed = TypedBytes(edtMeterAddress->text());
    if (typed.size() != protocol::kAddressSize) {
        ShowMessageBox(QStringLiteral("表地址应为 7 个字节（14 位十六进制数字），如 "
                                      "12 34 56 78 90 12 34。"),
                       QString::fromUtf8(kOperationsCaption), QMessageBox::Warning);
        return std::nullopt;
    }
    protocol::MeterTarget meter;
    meter.Address = LineAddressOf(typed);
    meter.TypeCode = protocol::MeterTypeCode(cmbMeterType->currentIndex()).value_or(meter.TypeCode);
    meter.Order = cmbIdOrder->currentIndex() == 0 ? protocol::DataIdOrder::HighFirst
                                                  : protocol::DataIdOrder::LowFirst;
    return meter;
}

bool OperationsWindow::Confirm(const QString& question) {
    return ShowMessageBox(question, QString::fromUtf8(kOperationsCaption), QMessageBox::Question,
                          QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void OperationsWindow::NameMeter(const protocol::LineAddress& address,
                                 std::optional<int> typePosition) {
    const QString typed = TypedAddress(address);
    if (TypedBytes(edtMeterAddress->text()) != TypedBytes(typed))
        edtMeterAddress->setText(typed);
    if (typePosition)
        cmbMeterType->setCurrentIndex(*typePosition);
    // The main window names the same meter, so its reads (and their decoding) go to it too.
    if (TypedBytes(Form_.edtAddr->text()) != TypedBytes(typed))
        Form_.edtAddr->setText(typed);
    if (typePosition && SelectedItemIndex(*Form_.cmbType) != *typePosition)
        Form_.cmbType->setCurrentIndex(*typePosition);
}

void OperationsWindow::Send(const QString& operation, const std::vector<std::uint8_t>& bytes,
                            OperationSequence::Continuation then) {
    Sequence->Add({operation, std::string(bytes.begin(), bytes.end()), std::move(then)});
}

void OperationsWindow::SendTo(const protocol::MeterTarget& meter, const QString& operation,
                              protocol::ReadRequest request, OperationSequence::Continuation then) {
    NameMeter(meter.Address, protocol::MeterTypePositionOfCode(meter.TypeCode));
    request.Sequence = NextSequence_++;
    Send(operation, protocol::BuildRequest(request), std::move(then));
}

void OperationsWindow::ReadAddress() {
    if (!MayStart())
        return;
    const auto order = cmbIdOrder->currentIndex() == 0 ? protocol::DataIdOrder::HighFirst
                                                       : protocol::DataIdOrder::LowFirst;
    Send(QStringLiteral("读表地址"),
         protocol::BuildReadAddressRequest(protocol::kWildcardByte,
                                           protocol::InOrder(protocol::kReadAddressId, order)),
         [this](const protocol::Exchange& exchange) {
             const auto& reply = exchange.Reply;
             if (protocol::Failed(exchange.Outcome) || !reply ||
                 reply->Kind != protocol::ReplyKind::ReadAddress || !reply->Address ||
                 !reply->TypeCode)
                 return;
             NameMeter(*reply->Address, protocol::MeterTypePositionOfCode(*reply->TypeCode));
         });
}

void OperationsWindow::ReadData(const QString& operation, const protocol::DataIdentifier& written) {
    if (!MayStart())
        return;
    if (const auto meter = Meter())
        SendTo(*meter, operation, protocol::ReadDataRequest(*meter, written));
}

void OperationsWindow::ReadHistory() {
    if (!MayStart())
        return;
    const auto meter = Meter();
    if (!meter)
        return;
    const int chosen = cmbHistoryMonth->currentIndex() + 1;
    const bool all = chosen > protocol::kHistoryMonths;
    for (int month = all ? 1 : chosen; month <= (all ? protocol::kHistoryMonths : chosen); ++month)
        SendTo(*meter, QStringLiteral("读历史数据（上%1月）").arg(month),
               protocol::ReadHistoryRequest(*meter, month));
}

void OperationsWindow::ReadKeyVersion() {
    if (!MayStart())
        return;
    if (const auto meter = Meter())
        SendTo(*meter, QStringLiteral("读密钥版本"), protocol::ReadKeyVersionRequest(*meter));
}

void OperationsWindow::ReadDataId() {
    if (!MayStart())
        return;
    const std::string id = TypedBytes(edtDataId->text());
    if (id.size() != protocol::kDataIdSize) {
        ShowMessageBox(QStringLiteral("数据标识应为 2 个字节（4 位十六进制数字），如 90 1F。"),
                       QString::fromUtf8(kOperationsCaption), QMessageBox::Warning);
        return;
    }
    const protocol::DataIdentifier written{static_cast<std::uint8_t>(id[0]),
                                           static_cast<std::uint8_t>(id[1])};
    if (const auto meter = Meter())
        SendTo(*meter,
               QStringLiteral("读标识 %1")
                   .arg(QString::fromStdString(util::BytesToHexTrimmed(util::AsBytes(id)))),
               protocol::ReadDataRequest(*meter, written));
}

void OperationsWindow::SetValve(protocol::ValveAction action) {
    if (!MayStart())
        return;
    const auto meter = Meter();
    const bool open = action == protocol::ValveAction::Open;
    if (!meter || !Confirm(QStringLiteral("%1%2的阀门？")
                               .arg(open ? QStringLiteral("打开") : QStringLiteral("关闭"),
                                    MeterName(*meter))))
        return;
    SendTo(*meter, open ? QStringLiteral("开阀") : QStringLiteral("关阀"),
           protocol::ValveRequest(*meter, action));
}

void OperationsWindow::SetClock() {
    if (!MayStart())
        return;
    const auto meter = Meter();
    if (!meter)
        return;
    // The meter's clock is read first, so the question and the result say what is corrected.
    SendTo(*meter, QStringLiteral("校时：读表时钟"),
           protocol::ReadDataRequest(*meter, protocol::kCurrentDataId),
           [this, target = *meter](const protocol::Exchange& exchange) {
               ClockRead(target, exchange);
           });
}

void OperationsWindow::ClockRead(const protocol::MeterTarget& meter,
                                 const protocol::Exchange& exchange) {
    const protocol::MeterClock computer = ClockOf(QDateTime::currentDateTime());
    QString question = QStringLiteral("把%1的时钟校准为本机时间？\n").arg(MeterName(meter));
    QString offset;
    if (const auto clock = MeterClockOf(exchange)) {
        offset = OffsetText(protocol::SecondsOf(*clock) - protocol::SecondsOf(computer));
        question += QStringLiteral("表时钟 %1，本机 %2：%3。")
                        .arg(ClockText(*clock), ClockText(computer), offset);
    } else {
        offset = QStringLiteral("未知（表时钟未读出）");
        question += QStringLiteral("表时钟未读出（%1）。")
                        .arg(Utf8(protocol::VerdictText(exchange.Outcome)));
    }
    if (!Confirm(question))
        return;
    // The time of the user's answer is the time set.
    const protocol::MeterClock now = ClockOf(QDateTime::currentDateTime());
    SendTo(meter, QStringLiteral("校时"), protocol::SetClockRequest(meter, now),
           [this, offset, now](const protocol::Exchange& answer) {
               if (protocol::Failed(answer.Outcome))
                   return;
               AppendLine({QStringLiteral("校正偏差"), offset, QString()});
               AppendLine({QStringLiteral("表时钟设为"), ClockText(now), QString()});
           });
}

void OperationsWindow::SetDay(protocol::MeterDay day) {
    if (!MayStart())
        return;
    const auto meter = Meter();
    const bool settlement = day == protocol::MeterDay::Settlement;
    const QString name = settlement ? QStringLiteral("结算日") : QStringLiteral("抄表日");
    const int dayOfMonth = (settlement ? edtSettlementDay : edtReadingDay)->value();
    if (!meter || !Confirm(QStringLiteral("把%1的%2设为每月 %3 日？")
                               .arg(MeterName(*meter), name)
                               .arg(dayOfMonth)))
        return;
    SendTo(*meter, QStringLiteral("设置%1（%2 日）").arg(name).arg(dayOfMonth),
           protocol::SetDayRequest(*meter, day, dayOfMonth));
}

void OperationsWindow::SetAddress() {
    if (!MayStart())
        return;
    const auto meter = Meter();
    if (!meter)
        return;
    const std::string typed = TypedBytes(edtNewAddress->text());
    const protocol::LineAddress address =
        typed.size() == protocol::kAddressSize ? LineAddressOf(typed) : protocol::LineAddress{};
    if (typed.size() != protocol::kAddressSize || IsWildcard(address)) {
        ShowMessageBox(QStringLiteral("新地址应为 7 个字节（14 位十六进制数字），且不能是 "
                                      "AA AA AA AA AA AA AA（每块表都应答这个地址）。"),
                       QString::fromUtf8(kOperationsCaption), QMessageBox::Warning);
        return;
    }
    if (!Confirm(
            QStringLiteral("把%1的地址改为 %2？")
                .arg(MeterName(*meter), QString::fromStdString(protocol::AddressText(address)))))
        return;
    SendTo(*meter, QStringLiteral("设置地址"), protocol::WriteAddressRequest(*meter, address),
           [this, address, type = meter->TypeCode](const protocol::Exchange& exchange) {
               // The meter answers at its new address only: both windows name it from now on.
               if (exchange.Outcome == protocol::Verdict::Good)
                   NameMeter(address, protocol::MeterTypePositionOfCode(type));
           });
}

void OperationsWindow::ShowAnswer(const QString& operation, const protocol::Exchange& exchange) {
    const QString address =
        exchange.Request ? QString::fromStdString(protocol::AddressText(exchange.Request->Address))
                         : QString();
    AppendGroup(address, operation, ResultOf(exchange));
}

void OperationsWindow::ShowNotSent(const QString& operation) {
    AppendGroup(QString(), operation, {QStringLiteral("未发送"), true, {}});
    ShowMessageBox(QStringLiteral("串口未打开：%1未发送。").arg(operation),
                   QString::fromUtf8(kOperationsCaption), QMessageBox::Warning);
}

void OperationsWindow::AppendGroup(const QString& address, const QString& operation,
                                   const OperationResult& result) {
    const int first = tblResults->rowCount();
    const auto set = [this](int row, int column, const QString& text) {
        SetCell(row, column, text);
    };
    const std::size_t lines = std::max<std::size_t>(result.Lines.size(), 1);
    tblResults->setRowCount(first + static_cast<int>(lines));
    set(first, ColTime, QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz")));
    set(first, ColAddress, address);
    set(first, ColOperation, operation);
    set(first, ColOutcome, result.Outcome);
    tblResults->item(first, ColOutcome)->setForeground(result.Failed ? kFailedColor : kGoodColor);
    for (std::size_t i = 0; i < result.Lines.size(); ++i) {
        const int row = first + static_cast<int>(i);
        set(row, ColItem, result.Lines[i].Item);
        set(row, ColValue, result.Lines[i].Value);
        set(row, ColRaw, result.Lines[i].Raw);
    }
    tblResults->scrollToBottom();
}

void OperationsWindow::AppendLine(const ResultLine& line) {
    const int row = tblResults->rowCount();
    tblResults->setRowCount(row + 1);
    SetCell(row, ColItem, line.Item);
    SetCell(row, ColValue, line.Value);
    SetCell(row, ColRaw, line.Raw);
    tblResults->scrollToBottom();
}

void OperationsWindow::SetCell(int row, int column, const QString& text) {
    tblResults->setItem(row, column, new QTableWidgetItem(text));
    Widen(column, text);
}

void OperationsWindow::Widen(int column, const QString& text) {
    // Columns widen to what they show, a line at a time (resizing to the contents would measure
    // every line again with each answer).
    const QFontMetrics metrics = tblResults->fontMetrics();
    const int needed = metrics.horizontalAdvance(text) + 2 * metrics.averageCharWidth();
    if (needed > tblResults->columnWidth(column))
        tblResults->setColumnWidth(column, needed);
}

void OperationsWindow::ShowProgress() {
    const QString waiting = Sequence->OnLineOperation();
    const int queued = Sequence->Queued();
    QString text;
    if (!waiting.isEmpty())
        text = QStringLiteral("等待应答：%1").arg(waiting);
    if (queued > 0)
        text += QStringLiteral("（还有 %1 项排队）").arg(queued);
    lblProgress->setText(text);
    btnStop->setEnabled(queued > 0);
}

void InstallOperationsWindow(TForm1& form) {
    auto* window = new OperationsWindow(form); // owned by the form through Qt's parent link
    auto* button = new QToolButton(form.sToolBar1);
    button->setObjectName(QStringLiteral("btnOperations"));
    button->setText(QString::fromUtf8(kOperationsCaption));
    button->setToolTip(QStringLiteral("Ctrl+M"));
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setAutoRaise(true);
    // Beside the other windows' buttons, before the separator that sets off the check boxes.
    const QList<QAction*> actions = form.sToolBar1->actions();
    const auto separator = std::find_if(actions.begin(), actions.end(), [](const QAction* action) {
        return action->isSeparator();
    });
    form.sToolBar1->insertWidget(separator != actions.end() ? *separator : nullptr, button);
    QObject::connect(button, &QToolButton::clicked, window, &OperationsWindow::Open);
    auto* open = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_M), &form);
    QObject::connect(open, &QShortcut::activated, window, &OperationsWindow::Open);
}

} // namespace mbus::console

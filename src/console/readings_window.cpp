#include "console/readings_window.h"

#include "console/error_box.h"
#include "console/exchange_monitor.h"
#include "console/file_dialog.h"
#include "console/main_window.h"
#include "console/message_box.h"
#include "console/meter_list_pane.h"
#include "console/readings_log.h"
#include "console/readings_table.h"
#include "console/readings_trend.h"
#include "console/traffic_file.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace mbus::console {
namespace {

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Adds `text` to a chooser unless it is there; true when added.
bool AddChoice(QComboBox* chooser, const QString& text) {
    if (chooser->findText(text) >= 0)
        return false;
    chooser->addItem(text);
    return true;
}

constexpr int kShortestReplyTimeoutMs = 100;
constexpr int kLongestReplyTimeoutMs = 600000;

} // namespace

ReadingsWindow::ReadingsWindow(TForm1& form) : QWidget(&form, Qt::Window), Form_(form) {
    setObjectName(QStringLiteral("ReadingsWindow"));
    setWindowTitle(QString::fromUtf8(kReadingsCaption));
    resize(1280, 640);
    Log = new ReadingsLog(this);

    btnExportCsv = new QPushButton(QStringLiteral("导出CSV"), this);
    btnExportCsv->setObjectName(QStringLiteral("btnExportCsv"));
    btnExportCsv->setToolTip(QStringLiteral("Ctrl+S"));
    btnClearReadings = new QPushButton(QStringLiteral("清空记录"), this);
    btnClearReadings->setObjectName(QStringLiteral("btnClearReadings"));
    cmbTrendField = new QComboBox(this);
    cmbTrendField->setObjectName(QStringLiteral("cmbTrendField"));
    cmbTrendField->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cmbTrendAddress = new QComboBox(this);
    cmbTrendAddress->setObjectName(QStringLiteral("cmbTrendAddress"));
    cmbTrendAddress->setSizeAdjustPolicy(QComboBox::AdjustToContents);

    edtReplyTimeout = new QSpinBox(this);
    edtReplyTimeout->setObjectName(QStringLiteral("edtReplyTimeout"));
    edtReplyTimeout->setRange(kShortestReplyTimeoutMs, kLongestReplyTimeoutMs);
    edtReplyTimeout->setSingleStep(100);
    edtReplyTimeout->setSuffix(QStringLiteral(" ms"));
    edtReplyTimeout->setValue(form.Exchanges->TimeoutMs());
    edtReplyTimeout->setToolTip(
        QStringLiteral("请求发出后等待应答的时间；超时记为无应答，之后到达的应答记为迟到应答"));

    auto* bar = new QHBoxLayout;
    bar->addWidget(btnExportCsv);
    bar->addWidget(btnClearReadings);
    bar->addSpacing(16);
    bar->addWidget(new QLabel(QStringLiteral("应答超时："), this));
    bar->addWidget(edtReplyTimeout);
    bar->addStretch();
    bar->addWidget(new QLabel(QStringLiteral("趋势："), this));
    bar->addWidget(cmbTrendField);
    bar->addWidget(new QLabel(QStringLiteral("表地址："), this));
    bar->addWidget(cmbTrendAddress);

    tblReadings = new ReadingsTable(this);
    chtTrend = new ReadingsTrend(this);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(tblReadings);
    split->addWidget(chtTrend);
    split->setSizes({330, 270});
    MeterList = new MeterListPane(form, this);
    auto* sides = new QSplitter(Qt::Horizontal, this);
    sides->addWidget(MeterList);
    sides->addWidget(split);
    sides->setSizes({700, 580});
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(sides, 1);

    dlgExportCsv = new QFileDialog(this);
    dlgExportCsv->setObjectName(QStringLiteral("dlgExportCsv"));
    dlgExportCsv->setOption(QFileDialog::DontUseNativeDialog);
    dlgExportCsv->setAcceptMode(QFileDialog::AcceptSave);
    dlgExportCsv->setNameFilter(QStringLiteral("CSV (*.csv)"));
    dlgExportCsv->setDefaultSuffix(QStringLiteral("csv"));

    connect(btnExportCsv, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { ExportCsv(); }); });
    auto* save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this, [this] { RunGuarded([this] { ExportCsv(); }); });
    connect(btnClearReadings, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { ClearReadings(); }); });
    connect(edtReplyTimeout, &QSpinBox::valueChanged, this,
            [&form](int ms) { form.Exchanges->SetTimeoutMs(ms); });
    connect(Log, &ReadingsLog::RowAdded, this, &ReadingsWindow::RowAdded);
    connect(Log, &ReadingsLog::Cleared, this, &ReadingsWindow::RowsCleared);
    connect(cmbTrendField, &QComboBox::currentTextChanged, this,
            &ReadingsWindow::TrendChoiceChanged);
    connect(cmbTrendAddress, &QComboBox::currentTextChanged, this,
            &ReadingsWindow::TrendChoiceChanged);
    TrendChoiceChanged();
    form.installEventFilter(this);
}

void ReadingsWindow::Open() {
    show();
    raise();
    activateWindow();
}

bool ReadingsWindow::ExportCsv() {
    dlgExportCsv->setDirectory(UserDocumentsFolder());
    dlgExportCsv->selectFile(
        QStringLiteral("读数记录_%1.csv")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"))));
    if (!RunFileDialog(*dlgExportCsv))
        return false;
    const QStringList chosen = dlgExportCsv->selectedFiles();
    const int rows = static_cast<int>(Log->Rows().size());
    WriteTrafficFile(chosen.front().toStdString(), Log->CsvFileBytes());
    ExportedRows_ = rows;
    return true;
}

void ReadingsWindow::ClearReadings() {
    const int rows = static_cast<int>(Log->Rows().size());
    if (rows > 0 &&
        ShowMessageBox(QStringLiteral("清空全部 %1 条读数记录？清空后不能恢复。").arg(rows),
                       QString::fromUtf8(kClearReadingsCaption), QMessageBox::Question,
                       QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    Log->Clear();
}

int ReadingsWindow::UnexportedRows() const {
    return std::max(0, static_cast<int>(Log->Rows().size()) - ExportedRows_);
}

bool ReadingsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &Form_ && event->type() == QEvent::Close && !MayClose()) {
        event->ignore();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool ReadingsWindow::MayClose() {
    const int rows = UnexportedRows();
    if (rows == 0)
        return true;
    const QMessageBox::StandardButton answer = ShowMessageBox(
        QStringLiteral("有 %1 条读数记录尚未导出。关闭前导出为 CSV 文件吗？").arg(rows),
        QString::fromUtf8(kReadingsCaption), QMessageBox::Question,
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::No)
        return true;
    if (answer != QMessageBox::Yes)
        return false;
    bool exported = false;
    RunGuarded([&] { exported = ExportCsv(); });
    return exported;
}

void ReadingsWindow::RowAdded(int index) {
    const LoggedReading& logged = Log->Rows()[static_cast<std::size_t>(index)];
    tblReadings->Append(logged);
    const auto& reading = logged.Row.Reply;
    if (!reading)
        return;
    // The first field and meter seen become the plotted ones; the choosers offer every numeric
    // field and every meter seen since.
    bool choicesGrew = false;
    for (const protocol::FieldReading& field : reading->Fields) {
        if (field.Kind == protocol::FieldKind::Quantity) {
            const QSignalBlocker blocker(cmbTrendField);
            choicesGrew |= AddChoice(cmbTrendField, Utf8(field.Label));
        }
    }
    if (reading->Address) {
        const QSignalBlocker blocker(cmbTrendAddress);
        choicesGrew |= AddChoice(cmbTrendAddress,
                                 QString::fromStdString(protocol::AddressText(*reading->Address)));
    }
    // A first choice redraws the plot from every row, this one included.
    if (choicesGrew && (cmbTrendField->currentText() != chtTrend->Label() ||
                        cmbTrendAddress->currentText() != chtTrend->Address()))
        TrendChoiceChanged();
    else
        chtTrend->Append(logged);
}

void ReadingsWindow::RowsCleared() {
    ExportedRows_ = 0;
    tblReadings->Clear();
    {
        const QSignalBlocker fieldBlocker(cmbTrendField);
        const QSignalBlocker addressBlocker(cmbTrendAddress);
        cmbTrendField->clear();
        cmbTrendAddress->clear();
    }
    TrendChoiceChanged();
}

void ReadingsWindow::TrendChoiceChanged() {
    chtTrend->Show(cmbTrendField->currentText(), cmbTrendAddress->currentText(), Log->Rows());
}

void InstallReadingsWindow(TForm1& form) {
    auto* window = new ReadingsWindow(form); // owned by the form through Qt's parent link
    auto* button = new QToolButton(form.sToolBar1);
    button->setObjectName(QStringLiteral("btnReadings"));
    button->setText(QString::fromUtf8(kReadingsCaption));
    button->setToolTip(QStringLiteral("Ctrl+R"));
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setAutoRaise(true);
    form.sToolBar1->addWidget(button);
    QObject::connect(button, &QToolButton::clicked, window, &ReadingsWindow::Open);
    auto* open = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), &form);
    QObject::connect(open, &QShortcut::activated, window, &ReadingsWindow::Open);
}

} // namespace mbus::console

#include "console/meter_list_table.h"

#include "console/meter_list_messages.h"
#include "protocol/meter_type.h"

#include <QComboBox>
#include <QDateTime>
#include <QHeaderView>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

#include <algorithm>
#include <map>

namespace mbus::console {
namespace {

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Std(const QString& text) {
    return text.toStdString();
}

const QColor kWrongBackground(0xFF, 0xDD, 0xDD);
const QColor kGood(0x00, 0x80, 0x00);
const QColor kFailed(0xC0, 0x00, 0x00);

// The type column is edited with the type list; a text typed that is no item stays as typed
// and is shown as wrong.
class TypeDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& /*option*/,
                          const QModelIndex& /*index*/) const override {
        auto* editor = new QComboBox(parent);
        editor->setEditable(true);
        editor->setInsertPolicy(QComboBox::NoInsert);
        for (const protocol::MeterType& type : protocol::MeterTypes())
            editor->addItem(Utf8(type.ItemText));
        return editor;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        static_cast<QComboBox*>(editor)->setCurrentText(index.data().toString());
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        model->setData(index, static_cast<QComboBox*>(editor)->currentText());
    }
};

// The reading a row shows: the first current quantity of the reply (the current cumulative flow
// of a water meter, the current heat of a heat meter), else its first quantity.
const protocol::FieldReading* ShownReading(const protocol::ParsedReply& reply) {
    const protocol::FieldReading* first = nullptr;
    for (const protocol::FieldReading& field : reply.Fields) {
        if (field.Kind != protocol::FieldKind::Quantity)
            continue;
        if (field.Label.starts_with("当前"))
            return &field;
        if (first == nullptr)
            first = &field;
    }
    return first;
}

} // namespace

MeterListTable::MeterListTable(QWidget* parent) : QTableWidget(0, kColumns, parent) {
    setObjectName(QStringLiteral("tblMeterList"));
    setHorizontalHeaderLabels({QStringLiteral("表地址"), QStringLiteral("表类型"),
                               QStringLiteral("名称"), QStringLiteral("最近读数"),
                               QStringLiteral("最近结果"), QStringLiteral("最近正确时间"),
                               QStringLiteral("正确"), QStringLiteral("失败")});
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setItemDelegateForColumn(kTypeColumn, new TypeDelegate(this));
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setStretchLastSection(false);
    resizeColumnsToContents();
    SetEditable(true);
    connect(this, &QTableWidget::itemChanged, this, &MeterListTable::CellChanged);
}

QString MeterListTable::Text(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text() : QString();
}

void MeterListTable::SetCell(int row, int column, const QString& text, bool editable) {
    auto* cell = new QTableWidgetItem(text);
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (editable)
        flags |= Qt::ItemIsEditable;
    cell->setFlags(flags);
    if (column == kGoodColumn || column == kFailedColumn)
        cell->setTextAlignment(Qt::AlignCenter); // under the header, wherever the row ends
    setItem(row, column, cell);
}

void MeterListTable::SetList(const protocol::MeterList& list) {
    struct Line {
        QString Address, Type, Name;
    };
    std::map<std::size_t, Line> lines; // by line number, so the rows keep the file's order
    for (const protocol::ListedMeter& meter : list.Meters) {
        lines[meter.Line] = {QString::fromStdString(protocol::AddressText(meter.Address)),
                             Utf8(protocol::MeterTypes()[meter.TypePosition].ItemText),
                             QString::fromStdString(meter.Name)};
    }
    for (const protocol::MeterListError& error : list.Errors) {
        if (lines.contains(error.Line))
            continue; // a line with more than one problem is one row
        Line& line = lines[error.Line];
        if (error.Field == protocol::MeterListField::Line || error.Fields.empty()) {
            line.Address = QString::fromStdString(error.Text);
            continue;
        }
        const auto field = [&](std::size_t i) {
            return i < error.Fields.size() ? QString::fromStdString(error.Fields[i]) : QString();
        };
        line = {field(0), field(1), field(2)};
    }
    {
        const QSignalBlocker blocker(this);
        setRowCount(0);
        for (const auto& [number, line] : lines) {
            const int row = rowCount();
            insertRow(row);
            SetCell(row, kAddressColumn, line.Address, true);
            SetCell(row, kTypeColumn, line.Type, true);
            SetCell(row, kNameColumn, line.Name, true);
            for (int column = kReadingColumn; column < kColumns; ++column)
                SetCell(row, column, QString(), false);
        }
    }
    Check();
    resizeColumnsToContents();
}

int MeterListTable::AddRow(const QString& address, const QString& type, const QString& name) {
    const int row = rowCount();
    {
        const QSignalBlocker blocker(this);
        insertRow(row);
        SetCell(row, kAddressColumn, address, true);
        SetCell(row, kTypeColumn, type, true);
        SetCell(row, kNameColumn, name, true);
        for (int column = kReadingColumn; column < kColumns; ++column)
            SetCell(row, column, QString(), false);
    }
    Check();
    resizeColumnToContents(kAddressColumn);
    resizeColumnToContents(kTypeColumn);
    emit Edited();
    return row;
}

void MeterListTable::RemoveSelectedRows() {
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(index.row());
    if (rows.empty())
        return;
    std::sort(rows.rbegin(), rows.rend());
    {
        const QSignalBlocker blocker(this);
        for (const int row : rows)
            removeRow(row);
    }
    Check();
    emit Edited();
}

void MeterListTable::SetEditable(bool editable) {
    setEditTriggers(editable
                        ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed
                        : QAbstractItemView::NoEditTriggers);
}

std::vector<MeterListTable::RowMeter> MeterListTable::Meters() const {
    return Meters_;
}

std::optional<int> MeterListTable::RowOf(const protocol::LineAddress& address,
                                         int typePosition) const {
    for (const RowMeter& meter : Meters_) {
        if (meter.Meter.Address == address && meter.Meter.TypePosition == typePosition)
            return meter.Row;
    }
    return std::nullopt;
}

std::string MeterListTable::ListText() const {
    std::string text = "# 表地址,表类型,名称\r\n";
    for (int row = 0; row < rowCount(); ++row) {
        const QString address = Text(row, kAddressColumn);
        const QString type = Text(row, kTypeColumn);
        const QString name = Text(row, kNameColumn);
        if (address.isEmpty() && type.isEmpty() && name.isEmpty())
            continue;
        text += protocol::MeterListLine(Std(address), Std(type), Std(name)) + "\r\n";
    }
    return text;
}

void MeterListTable::ShowRead(const protocol::Exchange& exchange) {
    if (!exchange.Request)
        return;
    const auto meter = std::find_if(Meters_.begin(), Meters_.end(), [&](const RowMeter& listed) {
        return listed.Meter.Address == exchange.Request->Address &&
               protocol::MeterTypeCode(listed.Meter.TypePosition) == exchange.Request->TypeCode;
    });
    if (meter == Meters_.end())
        return;
    const int row = meter->Row;
    const QSignalBlocker blocker(this);
    const bool good = exchange.Outcome == protocol::Verdict::Good;
    SetCell(row, kResultColumn, Utf8(protocol::VerdictText(exchange.Outcome)), false);
    item(row, kResultColumn)->setForeground(good ? kGood : kFailed);
    if (good && exchange.Reply && exchange.Reply->Decoded()) {
        if (const protocol::FieldReading* reading = ShownReading(*exchange.Reply)) {
            QString text = Utf8(reading->Value);
            if (!reading->Unit.empty())
                text += QLatin1Char(' ') + Utf8(reading->Unit);
            SetCell(row, kReadingColumn, text, false);
            item(row, kReadingColumn)->setToolTip(QString::fromStdString(exchange.Reply->Line));
        }
        const QDateTime now = QDateTime::currentDateTime();
        SetCell(row, kGoodTimeColumn, now.toString(QStringLiteral("MM-dd HH:mm:ss")), false);
        item(row, kGoodTimeColumn)
            ->setToolTip(now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
    }
    const int column = good ? kGoodColumn : kFailedColumn;
    const int count = item(row, column) ? item(row, column)->data(Qt::UserRole).toInt() + 1 : 1;
    SetCell(row, column, QString::number(count), false);
    item(row, column)->setData(Qt::UserRole, count);
    for (const int shown :
         {int(kReadingColumn), int(kResultColumn), int(kGoodTimeColumn), column}) {
        const int wanted = sizeHintForColumn(shown);
        if (wanted > columnWidth(shown))
            setColumnWidth(shown, wanted);
    }
}

void MeterListTable::Check() {
    std::string text;
    for (int row = 0; row < rowCount(); ++row) {
        text += protocol::MeterListLine(Std(Text(row, kAddressColumn)), Std(Text(row, kTypeColumn)),
                                        Std(Text(row, kNameColumn)));
        text += '\n';
    }
    protocol::MeterList list = protocol::ParseMeterList(text);
    Errors_ = std::move(list.Errors);
    Meters_.clear();
    for (protocol::ListedMeter& meter : list.Meters)
        Meters_.push_back({static_cast<int>(meter.Line) - 1, std::move(meter)});

    const QSignalBlocker blocker(this);
    for (int row = 0; row < rowCount(); ++row) {
        for (const int column : {kAddressColumn, kTypeColumn, kNameColumn}) {
            if (QTableWidgetItem* cell = item(row, column)) {
                cell->setBackground(QBrush());
                cell->setToolTip(QString());
            }
        }
    }
    for (const protocol::MeterListError& error : Errors_) {
        const int row = static_cast<int>(error.Line) - 1;
        std::vector<int> columns;
        switch (error.Field) {
        case protocol::MeterListField::Address:
            columns = {kAddressColumn};
            break;
        case protocol::MeterListField::Type:
            columns = {kTypeColumn};
            break;
        case protocol::MeterListField::Name:
            columns = {kNameColumn};
            break;
        case protocol::MeterListField::Line:
            columns = {kAddressColumn, kTypeColumn, kNameColumn};
            break;
        }
        for (const int column : columns) {
            if (QTableWidgetItem* cell = item(row, column)) {
                cell->setBackground(kWrongBackground);
                const QString said = cell->toolTip();
                cell->setToolTip((said.isEmpty() ? QString() : said + QLatin1Char('\n')) +
                                 MeterListFaultText(error));
            }
        }
    }
}

void MeterListTable::CellChanged(QTableWidgetItem* changed) {
    if (changed->column() > kNameColumn)
        return;
    Check();
    const int column = changed->column();
    if (sizeHintForColumn(column) > columnWidth(column))
        resizeColumnToContents(column);
    emit Edited();
}

} // namespace mbus::console

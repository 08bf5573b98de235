#include "console/readings_table.h"

#include "console/readings_log.h"
#include "protocol/meter_type.h"

#include <QHeaderView>

#include <algorithm>

namespace mbus::console {
namespace {

// Columns before the fields, and after them.
enum LeadColumn { kTimeColumn, kAddressColumn, kNameColumn, kTypeColumn, kLeadColumns };
constexpr int kTrailColumns = 4; // valve, battery, elapsed time, frame check

// The label of the status field, whose column also tells a row without a reading.
constexpr std::string_view kStatusLabel = "状态";

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString TypeName(std::uint8_t code) {
    if (const auto name = protocol::MeterTypeText(code))
        return Utf8(*name);
    return QString::fromStdString(protocol::TypeCodeText(code));
}

QTableWidgetItem* Cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

} // namespace

ReadingsTable::ReadingsTable(QWidget* parent) : QTableWidget(parent) {
    setObjectName(QStringLiteral("tblReadings"));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    verticalHeader()->setVisible(false);
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    Clear();
}

void ReadingsTable::Clear() {
    setRowCount(0);
    FieldLabels_.clear();
    setColumnCount(kLeadColumns + kTrailColumns);
    setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("表地址"),
                               QStringLiteral("名称"), QStringLiteral("表类型"),
                               QStringLiteral("阀门"), QStringLiteral("电池"),
                               QStringLiteral("耗时ms"), QStringLiteral("帧校验")});
    // The name of a meter in a list of meters: shown from the first row of a round on.
    setColumnHidden(kNameColumn, true);
}

void ReadingsTable::Widen(int column, const QString& text) {
    const int needed = fontMetrics().horizontalAdvance(text) + 2 * fontMetrics().averageCharWidth();
    if (needed > columnWidth(column))
        setColumnWidth(column, needed);
}

int ReadingsTable::FieldColumn(std::string_view label) {
    const auto found = std::find(FieldLabels_.begin(), FieldLabels_.end(), label);
    const int column = kLeadColumns + static_cast<int>(found - FieldLabels_.begin());
    if (found == FieldLabels_.end()) {
        FieldLabels_.push_back(label);
        insertColumn(column);
        setHorizontalHeaderItem(column, new QTableWidgetItem(Utf8(label)));
    }
    return column;
}

QString ReadingsTable::CheckText(const LoggedReading& reading) {
    const protocol::ReadingRow& row = reading.Row;
    const bool decoded = row.Reply && row.Reply->Decoded();
    return Utf8(protocol::VerdictText(row.Outcome.value_or(
        decoded ? protocol::VerdictOfReply(*row.Reply) : protocol::Verdict::NoReply)));
}

void ReadingsTable::Append(const LoggedReading& logged) {
    const protocol::ReadingRow& row = logged.Row;
    const protocol::ParsedReply* reading =
        row.Reply && row.Reply->Decoded() ? &*row.Reply : nullptr;
    const QString check = CheckText(logged);
    // Field columns first: inserting one shifts the columns after it.
    const std::size_t fieldColumns = FieldLabels_.size();
    std::vector<std::pair<int, QString>> fields;
    if (reading) {
        for (const protocol::FieldReading& field : reading->Fields) {
            QString text = Utf8(field.Value);
            if (!field.Unit.empty())
                text += QLatin1Char(' ') + Utf8(field.Unit);
            fields.emplace_back(FieldColumn(field.Label), text);
        }
    } else {
        // A request without a reading says what became of it in the status column too.
        fields.emplace_back(FieldColumn(kStatusLabel), check);
    }

    const int line = rowCount();
    insertRow(line);
    setItem(line, kTimeColumn,
            Cell(logged.Time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))));
    if (const auto meter = protocol::MeterOfRow(row)) {
        setItem(line, kAddressColumn,
                Cell(QString::fromStdString(protocol::AddressText(meter->Address))));
        setItem(line, kTypeColumn, Cell(TypeName(meter->TypeCode)));
    }
    if (!row.Name.empty()) {
        setItem(line, kNameColumn, Cell(QString::fromStdString(row.Name)));
        setColumnHidden(kNameColumn, false);
    }
    for (const auto& [column, text] : fields)
        setItem(line, column, Cell(text));

    const int trail = columnCount() - kTrailColumns;
    if (reading) {
        setItem(line, trail, Cell(Utf8(protocol::ValveText(reading->Status.ValveState))));
        setItem(line, trail + 1, Cell(Utf8(protocol::BatteryText(reading->Status.BatteryState))));
    }
    if (row.ElapsedMs)
        setItem(line, trail + 2, Cell(QString::number(*row.ElapsedMs)));
    auto* checkCell = Cell(check);
    const bool sound = check == Utf8(protocol::VerdictText(protocol::Verdict::Good));
    checkCell->setForeground(sound ? QColor(0x00, 0x80, 0x00) : QColor(0xC0, 0x00, 0x00));
    setItem(line, trail + 3, checkCell);
    // Columns fit what they show: all of them at the first line and when a layout brings new
    // fields, else each column this line holds something wider in.
    if (line == 0 || FieldLabels_.size() != fieldColumns) {
        resizeColumnsToContents();
    } else {
        for (int column = 0; column < columnCount(); ++column) {
            if (const QTableWidgetItem* cell = item(line, column))
                Widen(column, cell->text());
        }
    }
    scrollToBottom();
}

} // namespace mbus::console

#include "console/readings_table.h"

#include "console/readings_log.h"
#include "protocol/meter_type.h"

#include <QHeaderView>

#include <algorithm>
#include <cstdio>

namespace mbus::console {
namespace {

// Columns before the fields, and after them.
enum LeadColumn { kTimeColumn, kAddressColumn, kTypeColumn, kLeadColumns };
constexpr int kTrailColumns = 3; // valve, battery, frame check

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString TypeName(std::uint8_t code) {
    if (const auto name = protocol::MeterTypeText(code))
        return Utf8(*name);
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", code);
    return QString::fromLatin1(text);
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
                               QStringLiteral("表类型"), QStringLiteral("阀门"),
                               QStringLiteral("电池"), QStringLiteral("帧校验")});
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
    if (!reading.Row.Reply)
        return QStringLiteral("无应答");
    switch (protocol::FirstFailure(reading.Row.Reply->Check)) {
    case protocol::CheckFailure::None:
        return QStringLiteral("正确");
    case protocol::CheckFailure::Incomplete:
        return QStringLiteral("帧不完整");
    case protocol::CheckFailure::Start:
        return QStringLiteral("起始符错误");
    case protocol::CheckFailure::Checksum:
        return QStringLiteral("校验和错误");
    case protocol::CheckFailure::End:
        return QStringLiteral("结束符错误");
    case protocol::CheckFailure::Address:
        return QStringLiteral("地址不符");
    case protocol::CheckFailure::Type:
        return QStringLiteral("类型不符");
    }
    return {};
}

void ReadingsTable::Append(const LoggedReading& logged) {
    const protocol::ReadingRow& row = logged.Row;
    const protocol::ParsedReply* reading = row.Reply ? &*row.Reply : nullptr;
    // Field columns first: inserting one shifts the columns after it.
    std::vector<std::pair<int, QString>> fields;
    if (reading) {
        for (const protocol::FieldReading& field : reading->Fields) {
            QString text = Utf8(field.Value);
            if (!field.Unit.empty())
                text += QLatin1Char(' ') + Utf8(field.Unit);
            fields.emplace_back(FieldColumn(field.Label), text);
        }
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
    for (const auto& [column, text] : fields)
        setItem(line, column, Cell(text));

    const int trail = columnCount() - kTrailColumns;
    if (reading) {
        setItem(line, trail, Cell(Utf8(protocol::ValveText(reading->Status.ValveState))));
        setItem(line, trail + 1, Cell(Utf8(protocol::BatteryText(reading->Status.BatteryState))));
    }
    auto* check = Cell(CheckText(logged));
    const bool sound =
        reading && protocol::FirstFailure(reading->Check) == protocol::CheckFailure::None;
    check->setForeground(sound ? QColor(0x00, 0x80, 0x00) : QColor(0xC0, 0x00, 0x00));
    setItem(line, trail + 2, check);
    if (line == 0)
        resizeColumnsToContents();
    scrollToBottom();
}

} // namespace mbus::console

// The table of the list pane (表计清单): one row per meter of the list, its address, type and
// name as the engineer wrote them (editable while no round runs), and what the rounds found: the
// last reading, the last result (正确, 无应答, 校验和错误, 地址不符, ...), the time of the last
// good reading and the counts of good and failed reads. Every row is checked as a line of a meter
// list (protocol::ParseMeterList) after each change: a wrong row stays in the list, shown in red
// with what is wrong, and is left out of rounds until it is put right.
#pragma once

#include <QTableWidget>

#include <optional>
#include <string>
#include <vector>

#include "protocol/exchange.h"
#include "protocol/meter_list.h"

namespace mbus::console {

class MeterListTable : public QTableWidget {
    Q_OBJECT
public:
    enum Column {
        kAddressColumn,
        kTypeColumn,
        kNameColumn,
        kReadingColumn,
        kResultColumn,
        kGoodTimeColumn,
        kGoodColumn,
        kFailedColumn,
        kColumns
    };

    // A meter of a sound row.
    struct RowMeter {
        int Row = 0;
        protocol::ListedMeter Meter;
    };

    explicit MeterListTable(QWidget* parent = nullptr);

    // Replaces the rows with the lines of `list` in their order: its meters, and its bad lines
    // with their fields as written (a line that could not be split whole in the address).
    void SetList(const protocol::MeterList& list);
    // Adds a row and gives its index.
    int AddRow(const QString& address, const QString& type, const QString& name);
    // Drops the selected rows.
    void RemoveSelectedRows();
    // While a round runs the rows stay as they are: no edit, no row added or removed.
    void SetEditable(bool editable);

    // The meters of the sound rows, in row order.
    std::vector<RowMeter> Meters() const;
    // The row of the meter at `address` of type `typePosition`, if a sound row holds it.
    std::optional<int> RowOf(const protocol::LineAddress& address, int typePosition) const;
    // Rows that are wrong, with their problems (the line numbers are row numbers from 1).
    const std::vector<protocol::MeterListError>& Errors() const { return Errors_; }
    // The rows as a meter list file: a comment line, then one line per row that holds anything,
    // each ending in CR LF (UTF-8, no byte order mark).
    std::string ListText() const;

    // A round's request settled: the row of the meter it asked (when a sound row still holds
    // it) shows its result, its reading when good, and counts it.
    void ShowRead(const protocol::Exchange& exchange);

signals:
    // The engineer changed the list (an edit, a row added or removed).
    void Edited();

private:
    QString Text(int row, int column) const;
    void SetCell(int row, int column, const QString& text, bool editable);
    // Checks every row and shows what is wrong.
    void Check();
    void CellChanged(QTableWidgetItem* item);

    std::vector<protocol::MeterListError> Errors_;
    std::vector<RowMeter> Meters_;
};

} // namespace mbus::console

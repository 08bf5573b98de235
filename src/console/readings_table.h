// The table of the readings window: one line per logged row with its time (to the millisecond),
// the meter's address, name (a round's meters) and type name, every field's value and unit, the
// valve, the battery, the time from the request to its reply (耗时ms) and the frame check, a green
// "正确" or a red text naming the first check that failed or what became of a request without a
// reading ("无应答", "仅回显", "迟到应答", ...; said in the status column too). Field columns
// follow the layouts as they first appear; columns widen to what they show.
#pragma once

#include <QTableWidget>

#include <string_view>
#include <vector>

namespace mbus::console {

struct LoggedReading;

class ReadingsTable : public QTableWidget {
    Q_OBJECT
public:
    explicit ReadingsTable(QWidget* parent = nullptr);

    // Appends the line of `reading` and scrolls to it.
    void Append(const LoggedReading& reading);
    // Drops every line and the field columns.
    void Clear();

    // The text of the frame check column for a row.
    static QString CheckText(const LoggedReading& reading);

private:
    // Widens `column` to show `text` whole.
    void Widen(int column, const QString& text);
    // The column of the field with `label`, inserted before the valve column when new.
    int FieldColumn(std::string_view label);

    std::vector<std::string_view> FieldLabels_; // in column order
};

} // namespace mbus::console

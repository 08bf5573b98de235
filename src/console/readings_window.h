// The readings window ("读数记录"), a top-level window beside the main window: the list of the
// meters on the line with its rounds (表计清单, MeterListPane), the readings table, a trend plot of
// one chosen numeric field of one chosen meter, CSV export (the button "导出CSV" or Ctrl+S), its
// own clear, which asks first, and the reply time-out (应答超时) of the console's requests. It owns
// the readings log, so the rows live as long as the main window, whether or not this window is
// shown; closing the main window with rows not exported asks whether to export them. The main
// window opens it with its tool-bar button "读数记录" or Ctrl+R.
#pragma once

#include <QWidget>

class QComboBox;
class QFileDialog;
class QEvent;
class QPushButton;
class QSpinBox;

namespace mbus::console {

class MeterListPane;
class ReadingsLog;
class ReadingsTable;
class ReadingsTrend;
class TForm1;

inline constexpr char kReadingsCaption[] = "读数记录";
inline constexpr char kClearReadingsCaption[] = "清空记录";

class ReadingsWindow : public QWidget {
    Q_OBJECT
public:
    // A window of its own, closed and destroyed with `form`.
    explicit ReadingsWindow(TForm1& form);

    // Shows the window, raised and active.
    void Open();
    // Asks for a file and writes the rows to it as CSV; true when they were written. A write
    // failure raises.
    bool ExportCsv();
    // Asks "清空全部 N 条读数记录？" and drops the rows when the user agrees; with no row, drops
    // nothing and asks nothing.
    void ClearReadings();
    // The rows added since the last export (or clear).
    int UnexportedRows() const;

    ReadingsLog* Log;
    MeterListPane* MeterList;
    ReadingsTable* tblReadings;
    ReadingsTrend* chtTrend;
    QComboBox* cmbTrendField;
    QComboBox* cmbTrendAddress;
    QPushButton* btnExportCsv;
    QPushButton* btnClearReadings;
    // 应答超时: how long a request waits for its reply before it is a row "无应答" (ms).
    QSpinBox* edtReplyTimeout;
    QFileDialog* dlgExportCsv;

protected:
    // Closing the main window with rows not exported asks "是否导出" first: Yes exports (and
    // the window stays open when that does not happen), No closes, Cancel keeps the window.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool MayClose();
    void RowAdded(int index);
    void RowsCleared();
    void TrendChoiceChanged();

    TForm1& Form_;
    int ExportedRows_ = 0;
};

// Adds the tool-bar button "读数记录" and Ctrl+R to the main window and makes its readings window
// (hidden until opened). Changes nothing else of the main window.
void InstallReadingsWindow(TForm1& form);

} // namespace mbus::console

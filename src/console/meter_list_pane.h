// The list pane of the readings window (表计清单): a list of the meters on the line, loaded from a
// meter list file (CSV: "address,type[,name]" a line), edited in place, grown by the meter the
// main window shows (表地址 and 表类型) or by the meter that answers 读表地址, and saved back; and
// the rounds (轮抄) that read every meter of the list in turn, once or every period,
// with the result of each meter on its row and a summary of each round. Timed sending of the main
// window and rounds never run at once: starting one stops the other, with a word in the status
// bar.
#pragma once

#include <QGroupBox>

#include <string>

#include "protocol/exchange.h"
#include "protocol/frame_layout.h"

class QCheckBox;
class QFileDialog;
class QLabel;
class QPushButton;
class QSpinBox;

namespace mbus::console {

class MeterListTable;
class MeterRound;
class OperationSequence;
class TForm1;

inline constexpr char kMeterListCaption[] = "表计清单";

class MeterListPane : public QGroupBox {
    Q_OBJECT
public:
    explicit MeterListPane(TForm1& form, QWidget* parent = nullptr);

    // Reads the meter list file at `path` into the list, replacing it: every line that is a
    // meter, and the wrong lines as red rows, each named with its line and field in a box. False
    // (and the list as it was) when the file cannot be read.
    bool LoadList(const QString& path);
    // Writes the list to `path` as a meter list file; raises when it cannot be written.
    void SaveList(const QString& path);
    // Asks for a file (after asking whether to drop changes not saved) and loads it.
    void OpenList();
    // Asks for a file and saves the list to it; true when it was written.
    bool SaveListAs();
    // Adds the meter of the main window's 表地址 and 表类型, or selects its row when the list
    // holds it already.
    void AddMainWindowMeter();
    // Reads the address of the one meter on the line (读表地址, to any type and address) and adds
    // the meter that answers as AddMainWindowMeter does; what came of it shows beside the round
    // buttons. Needs the open port and no timed sending, as the meter operations window does.
    void AddFoundMeter();
    // 开始轮抄 / 停止.
    void StartRounds();
    void StopRounds();
    bool RoundsRunning() const;

    MeterListTable* tblMeterList;
    QPushButton* btnOpenMeterList;
    QPushButton* btnSaveMeterList;
    QPushButton* btnNewMeter;
    QPushButton* btnAddMainMeter;
    QPushButton* btnAddFoundMeter;
    QPushButton* btnRemoveMeters;
    QPushButton* btnRound;
    QCheckBox* ckbRoundRepeat;
    QSpinBox* edtRoundPeriod; // seconds from one round's start to the next
    QLabel* lblRoundProgress;
    QLabel* lblRoundSummary;
    QFileDialog* dlgMeterList;
    MeterRound* Round;
    OperationSequence* AddressSearch; // the request of 读表地址

private:
    // Adds the meter, or selects the row that holds it, and puts the cursor on its name. True
    // when it was added.
    bool AddMeter(const protocol::LineAddress& address, int typePosition);
    void FoundMeter(const protocol::Exchange& exchange);
    void RoundsFinished(const QString& why);
    void ShowRoundsState();
    void ShowTitle();
    // Timed sending was switched on in the main window: a round stops for it.
    void AutoSendToggled(bool on);

    TForm1& Form_;
    QString FileName_; // the file the list was last loaded from or saved to
    bool Modified_ = false;
    int RoundMeters_ = 0; // meters in the rounds under way
    int RoundRead_ = 0;   // of them read in the current round
};

} // namespace mbus::console

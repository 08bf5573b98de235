// The meter operations window ("表操作"), a top-level window beside the main window for the bench
// test of one meter: read its address, current counters, past months (one, or all twelve in
// turn), price table, settlement and reading days, purchase record, key version or any
// identifier; open and close its valve, set its clock to this computer's (showing the offset it
// corrects), its settlement and reading days and its address. The meter is the one the main
// window names by 表地址 and 表类型, editable here, with the identifier's byte order. Requests go
// out on the main window's port through its sending path, one at a time (OperationSequence);
// every write asks first; each result is a group of lines in the results table. The main window
// opens it with its tool-bar button "表操作" or Ctrl+M.
#pragma once

#include <QWidget>

#include <optional>
#include <vector>

#include "console/operation_sequence.h"
#include "protocol/meter_operations.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace mbus::console {

class TForm1;
struct OperationResult;
struct ResultLine;

inline constexpr char kOperationsCaption[] = "表操作";

class OperationsWindow : public QWidget {
    Q_OBJECT
public:
    // A window of its own, closed and destroyed with `form`.
    explicit OperationsWindow(TForm1& form);

    // Shows the window for the meter of the main window's 表地址 and 表类型, raised and active.
    void Open();

    // The meter: its address as typed (most significant byte first), its type, and the byte
    // order of the identifier in the requests ("高字节在前" A0 17 or "低字节在前" 17 A0).
    QLineEdit* edtMeterAddress;
    QComboBox* cmbMeterType;
    QComboBox* cmbIdOrder;

    QPushButton* btnReadAddress;
    QPushButton* btnReadCurrent;
    QComboBox* cmbHistoryMonth; // 上1月 .. 上12月, then 全部12个月
    QPushButton* btnReadHistory;
    QPushButton* btnReadPrices;
    QPushButton* btnReadSettlementDay;
    QPushButton* btnReadReadingDay;
    QPushButton* btnReadPurchase;
    QPushButton* btnReadKeyVersion;
    QLineEdit* edtDataId; // any identifier to read, as written (high byte first)
    QPushButton* btnReadDataId;

    QPushButton* btnOpenValve;
    QPushButton* btnCloseValve;
    QPushButton* btnSetClock;
    QSpinBox* edtSettlementDay;
    QPushButton* btnSetSettlementDay;
    QSpinBox* edtReadingDay;
    QPushButton* btnSetReadingDay;
    QLineEdit* edtNewAddress;
    QPushButton* btnSetAddress;

    // What waits for its answer, and the button that drops the requests still queued.
    QLabel* lblProgress;
    QPushButton* btnStop;
    // 时间, 表地址, 操作, 结果, 项目, 数值, 原始数据: one group of lines per answer.
    QTableWidget* tblResults;

    OperationSequence* Sequence;

private:
    void ReadAddress();
    void ReadData(const QString& operation, const protocol::DataIdentifier& written);
    void ReadHistory();
    void ReadKeyVersion();
    void ReadDataId();
    void SetValve(protocol::ValveAction action);
    void SetClock();
    void ClockRead(const protocol::MeterTarget& meter, const protocol::Exchange& exchange);
    void SetDay(protocol::MeterDay day);
    void SetAddress();

    // Whether an operation may go out now: the port is open and timed sending is off (else a
    // box says why, and nothing is sent).
    bool MayStart();
    // The meter of the window's fields; none (a box says why) when the address does not give
    // seven bytes.
    std::optional<protocol::MeterTarget> Meter();
    // Names the meter in this window and in the main window's 表地址 and 表类型 (the type when
    // given), so the main window's reads, and the decoding of every reply, go by it too.
    void NameMeter(const protocol::LineAddress& address, std::optional<int> typePosition);
    // Asks "<question>" with 确定/取消; true when the user agrees.
    bool Confirm(const QString& question);
    void Send(const QString& operation, const std::vector<std::uint8_t>& bytes,
              OperationSequence::Continuation then = {});
    // Sends `request` to `meter` (named in both windows first) with the next sequence number.
    void SendTo(const protocol::MeterTarget& meter, const QString& operation,
                protocol::ReadRequest request, OperationSequence::Continuation then = {});

    void ShowAnswer(const QString& operation, const protocol::Exchange& exchange);
    void ShowNotSent(const QString& operation);
    void AppendGroup(const QString& address, const QString& operation,
                     const OperationResult& result);
    void AppendLine(const ResultLine& line);
    void SetCell(int row, int column, const QString& text);
    void Widen(int column, const QString& text);
    void ShowProgress();
    // The main window's meter changed: this window names it too.
    void FollowMainWindow();

    TForm1& Form_;
    std::uint8_t NextSequence_ = 0;
};

// Adds the tool-bar button "表操作" and Ctrl+M to the main window and makes its operations window
// (hidden until opened), once the main window's controls exist. Changes nothing else of the
// main window.
void InstallOperationsWindow(TForm1& form);

} // namespace mbus::console

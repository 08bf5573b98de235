// A round of meters (轮抄): the meters of the list pane read one after the other, one request on
// the line at a time, once or again every period. Each request goes out through the console's
// sending path (counted, shown in the traffic view, written to the traffic log file, opening an
// exchange) as soon as the previous one has settled (its answer whole, or its time-out passed)
// and no other request of the console waits; while a round runs, the receive road ends an
// exchange as soon as its answer is whole (ExchangeMonitor::SetEndAnswersEarly). The list pane
// starts and stops it and shows what it tells.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/exchange.h"
#include "protocol/round_tally.h"

namespace mbus::console {

class ExchangeMonitor;

class MeterRound : public QObject {
    Q_OBJECT
public:
    struct Meter {
        std::string Label;   // "00000000000017（3-201 厨房）", for the summary
        std::string Name;    // its name in the list, for the readings log
        std::string Request; // the read request as it goes out
    };

    // What a round came to.
    struct Summary {
        int Number = 0;                    // from 1, since Start
        QDateTime StartedAt;               // when its first request went out
        std::chrono::milliseconds Took{0}; // from its first request to its last answer
        bool Stopped = false; // ended by Stop or a failed send before every meter was read
        QString Text; // "第 2 轮（14:02:11）：47/50 应答，用时 19.0 秒；无应答：…"
    };

    // Puts bytes on the line and gives the id of the exchange they opened; raises when the port
    // takes nothing.
    using Sender = std::function<std::uint64_t(const std::string& bytes)>;

    MeterRound(ExchangeMonitor& exchanges, Sender send, QObject* parent = nullptr);

    // Reads `meters` in turn: one round, or with `periodMs` above 0 a round every period (from
    // one round's start to the next; a round that takes longer is followed at once) until Stop.
    // False when the first request could not go out (the port is closed): nothing runs then.
    bool Start(std::vector<Meter> meters, int periodMs);
    // Ends the rounds for the reason `why` (empty: the user stopped them): no further request
    // goes out. The request on the line still gets its answer (MeterRead), and the round's
    // summary says it was stopped.
    void Stop(const QString& why = QString());
    // Whether a round runs or the next one is due.
    bool Running() const { return Running_; }

signals:
    void RoundStarted(int number);
    // A request of the rounds settled (not for a late reply: its request settled before,
    // without one); the request names the meter. Comes for the request on the line when the
    // rounds were stopped too.
    void MeterRead(const protocol::Exchange& exchange);
    void RoundEnded(const MeterRound::Summary& summary);
    // The rounds ended: `why` is empty when they ran out or the user stopped them, else the
    // reason ("串口未打开", or what Stop was given).
    void Finished(const QString& why);

private:
    void StartRound();
    void SendNext();
    void ExchangeSettled(const protocol::Exchange& exchange);
    // The round read every meter: its summary, then the next round or the end.
    void EndRound();
    void Finish(const QString& why);
    Summary SummaryOf(bool stopped) const;

    ExchangeMonitor& Exchanges_;
    Sender Send_;
    std::vector<Meter> Meters_;
    int PeriodMs_ = 0;
    bool Running_ = false;
    int Number_ = 0;
    bool RoundActive_ = false;    // a round is under way (not between two rounds)
    std::size_t Next_ = 0;        // the meter whose request goes out next
    std::uint64_t OnLine_ = 0;    // the exchange of the request on the line; 0: none
    std::size_t OnLineMeter_ = 0; // its meter
    int Run_ = 0;                 // counts Start, so a request of earlier rounds is told apart
    int OnLineRun_ = 0;           // the Start the request on the line belongs to
    bool Sent_ = false;           // the round's first request has gone out
    protocol::ExchangeClock::time_point StartedAt_;  // when it went out
    protocol::ExchangeClock::time_point LastAnswer_; // when the round's latest request settled
    QDateTime StartedAtWall_;
    std::optional<protocol::RoundTally> Tally_;
    QTimer NextRound_;
};

// The summary of a round: how many answered of how many read, how long it took, and the meters
// that failed, by what failed ("无应答：00000000000017（3-201 厨房）、…").
QString RoundSummaryText(int number, const QDateTime& startedAt, std::chrono::milliseconds took,
                         const protocol::RoundTally& tally, const std::vector<std::string>& labels,
                         bool stopped);

} // namespace mbus::console

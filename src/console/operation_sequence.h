// The requests of the meter operations window, one on the line at a time. Each goes out through
// the console's sending path (so it is counted, shown in the traffic view, written to the log file
// and opens an exchange) once no request of the console waits for its answer, and the next waits
// for its exchange to settle: the twelve months of history are read in turn, and a step that
// needs an answer first (setting the clock reads the meter's clock) gets it before it goes on.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>

#include "protocol/exchange.h"

namespace mbus::console {

class ExchangeMonitor;

class OperationSequence : public QObject {
    Q_OBJECT
public:
    // Puts bytes on the line and gives the id of the exchange they opened; raises when the port
    // takes nothing.
    using Sender = std::function<std::uint64_t(const std::string& bytes)>;
    // What a step does with its settled exchange (a step of its own may be added from there).
    using Continuation = std::function<void(const protocol::Exchange& exchange)>;

    struct Step {
        QString Operation; // what the request does, as the window names it ("关阀")
        std::string Bytes; // the request as it goes out
        Continuation Then; // may be empty
    };

    OperationSequence(ExchangeMonitor& exchanges, Sender send, QObject* parent = nullptr);

    // Queues `step` behind the steps queued before it.
    void Add(Step step);
    // Drops the steps not sent yet; the one on the line still gets its answer.
    void Cancel();
    // Whether a step waits for its answer or for its turn.
    bool Busy() const { return OnLine_ != 0 || !Queue_.empty(); }
    // Steps not sent yet.
    int Queued() const { return static_cast<int>(Queue_.size()); }
    // The operation of the step that waits for its answer; empty when none waits.
    QString OnLineOperation() const { return OnLine_ != 0 ? Sent_.at(OnLine_) : QString(); }

signals:
    // A request of a step settled: its answer, or what became of it (a reply after the time-out
    // settles the same request again, as late). Emitted from the event loop, before the step's
    // continuation runs.
    void Answered(const QString& operation, const protocol::Exchange& exchange);
    // The port took a request of `operation` not: the steps behind it are dropped.
    void SendFailed(const QString& operation);
    // A step went out, got its answer, or was dropped: what waits and what is queued changed.
    void Progressed();

private:
    void ExchangeSettled(const protocol::Exchange& exchange);
    void Deliver(const protocol::Exchange& exchange);
    void SendNext();

    ExchangeMonitor& Exchanges_;
    Sender Send_;
    std::deque<Step> Queue_;
    std::uint64_t OnLine_ = 0;              // the exchange of the step on the line; 0: none
    Continuation OnLineThen_;               // its continuation
    std::map<std::uint64_t, QString> Sent_; // the latest requests sent, for late replies
};

} // namespace mbus::console

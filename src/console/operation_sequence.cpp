#include "console/operation_sequence.h"

#include "console/exchange_monitor.h"

#include <QTimer>

namespace mbus::console {
namespace {

// How many requests sent keep their operation's name for a late reply.
constexpr std::size_t kSentKept = 64;

} // namespace

OperationSequence::OperationSequence(ExchangeMonitor& exchanges, Sender send, QObject* parent)
    : QObject(parent), Exchanges_(exchanges), Send_(std::move(send)) {
    connect(&exchanges, &ExchangeMonitor::Settled, this, &OperationSequence::ExchangeSettled);
}

void OperationSequence::Add(Step step) {
    Queue_.push_back(std::move(step));
    SendNext();
}

void OperationSequence::Cancel() {
    Queue_.clear();
    emit Progressed();
}

void OperationSequence::ExchangeSettled(const protocol::Exchange& exchange) {
    // The monitor settles exchanges inside the receive road's timer; what a step does with its
    // answer (asking the user, say) runs from the event loop instead.
    if (Sent_.contains(exchange.Id))
        QTimer::singleShot(0, this, [this, exchange] { Deliver(exchange); });
    else if (OnLine_ == 0 && !Queue_.empty())
        QTimer::singleShot(0, this, [this] { SendNext(); }); // another request made way
}

void OperationSequence::Deliver(const protocol::Exchange& exchange) {
    const bool first = exchange.Id == OnLine_;
    Continuation then;
    if (first) {
        then = std::move(OnLineThen_);
        OnLineThen_ = nullptr;
        OnLine_ = 0;
    }
    emit Answered(Sent_[exchange.Id], exchange);
    emit Progressed();
    if (then)
        then(exchange);
    SendNext();
}

void OperationSequence::SendNext() {
    // One request on the line at a time, the console's own (发送, timed sending) included.
    if (OnLine_ != 0 || Queue_.empty() || Exchanges_.Waiting())
        return;
    Step step = std::move(Queue_.front());
    Queue_.pop_front();
    std::uint64_t id = 0;
    try {
        id = Send_(step.Bytes);
    } catch (...) {
        id = 0;
    }
    if (id == 0) { // nothing went out, or no exchange follows it: nothing will answer
        Queue_.clear();
        emit Progressed();
        emit SendFailed(step.Operation);
        return;
    }
    OnLine_ = id;
    OnLineThen_ = std::move(step.Then);
    Sent_[id] = step.Operation;
    while (Sent_.size() > kSentKept)
        Sent_.erase(Sent_.begin());
    emit Progressed();
}

} // namespace mbus::console

#include "console/meter_round.h"

#include "console/error_box.h"
#include "console/exchange_monitor.h"

#include <map>

namespace mbus::console {
namespace {

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

MeterRound::MeterRound(ExchangeMonitor& exchanges, Sender send, QObject* parent)
    : QObject(parent), Exchanges_(exchanges), Send_(std::move(send)) {
    NextRound_.setSingleShot(true);
    NextRound_.setTimerType(Qt::PreciseTimer);
    connect(&NextRound_, &QTimer::timeout, this, [this] { RunGuarded([this] { StartRound(); }); });
    connect(&Exchanges_, &ExchangeMonitor::Settled, this, &MeterRound::ExchangeSettled);
}

bool MeterRound::Start(std::vector<Meter> meters, int periodMs) {
    Stop();
    if (meters.empty())
        return false;
    Meters_ = std::move(meters);
    PeriodMs_ = periodMs;
    ++Run_;
    Number_ = 0;
    Running_ = true;
    StartRound();
    return Running_;
}

void MeterRound::Stop(const QString& why) {
    if (Running_)
        Finish(why);
}

void MeterRound::StartRound() {
    if (!Running_)
        return;
    ++Number_;
    RoundActive_ = true;
    Next_ = 0;
    Sent_ = false;
    Tally_.emplace(Meters_.size());
    Exchanges_.SetEndAnswersEarly(true);
    emit RoundStarted(Number_);
    SendNext();
}

void MeterRound::SendNext() {
    if (!Running_ || !RoundActive_ || OnLine_ != 0)
        return;
    if (Next_ >= Meters_.size()) {
        EndRound();
        return;
    }
    // One request on the line at a time: a request of the main window (发送) still waiting for
    // its answer goes first, and the round goes on when it has settled.
    if (Exchanges_.Waiting())
        return;
    const Meter& meter = Meters_[Next_];
    std::uint64_t id = 0;
    try {
        id = Send_(meter.Request);
    } catch (...) {
    }
    if (id == 0) {
        Finish(QStringLiteral("串口未打开"));
        return;
    }
    if (!Sent_) {
        Sent_ = true;
        StartedAt_ = protocol::ExchangeClock::now();
        StartedAtWall_ = QDateTime::currentDateTime();
    }
    Exchanges_.NameRequest(id, meter.Name);
    OnLine_ = id;
    OnLineMeter_ = Next_++;
    OnLineRun_ = Run_;
}

void MeterRound::ExchangeSettled(const protocol::Exchange& exchange) {
    if (OnLine_ != 0 && exchange.Id == OnLine_) {
        OnLine_ = 0;
        if (OnLineRun_ == Run_ && RoundActive_) {
            LastAnswer_ = exchange.SettledAt;
            Tally_->Add(OnLineMeter_, exchange.Outcome);
        }
        emit MeterRead(exchange);
    }
    // The next request goes out from the event loop, once the frame that settled this one has
    // been shown and decoded.
    if (Running_ && RoundActive_)
        QTimer::singleShot(0, this, [this] { RunGuarded([this] { SendNext(); }); });
}

void MeterRound::EndRound() {
    RoundActive_ = false;
    Exchanges_.SetEndAnswersEarly(false);
    emit RoundEnded(SummaryOf(false));
    if (!Running_) // stopped by a receiver of RoundEnded
        return;
    if (PeriodMs_ <= 0) {
        Finish(QString());
        return;
    }
    // The period runs from one round's first request to the next round's.
    const auto due = StartedAt_ + std::chrono::milliseconds(PeriodMs_);
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(due - protocol::ExchangeClock::now());
    NextRound_.start(static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
}

void MeterRound::Finish(const QString& why) {
    // A round cut short says how far it came, unless not one of its requests went out.
    const bool cutShort = RoundActive_ && Sent_;
    Running_ = false;
    RoundActive_ = false;
    NextRound_.stop();
    Exchanges_.SetEndAnswersEarly(false);
    if (cutShort)
        emit RoundEnded(SummaryOf(true));
    emit Finished(why);
}

MeterRound::Summary MeterRound::SummaryOf(bool stopped) const {
    Summary summary;
    summary.Number = Number_;
    summary.StartedAt = Sent_ ? StartedAtWall_ : QDateTime::currentDateTime();
    summary.Took =
        Sent_ && LastAnswer_ > StartedAt_
            ? std::chrono::duration_cast<std::chrono::milliseconds>(LastAnswer_ - StartedAt_)
            : std::chrono::milliseconds(0);
    summary.Stopped = stopped;
    std::vector<std::string> labels;
    labels.reserve(Meters_.size());
    for (const Meter& meter : Meters_)
        labels.push_back(meter.Label);
    summary.Text =
        RoundSummaryText(summary.Number, summary.StartedAt, summary.Took,
                         Tally_ ? *Tally_ : protocol::RoundTally(Meters_.size()), labels, stopped);
    return summary;
}

QString RoundSummaryText(int number, const QDateTime& startedAt, std::chrono::milliseconds took,
                         const protocol::RoundTally& tally, const std::vector<std::string>& labels,
                         bool stopped) {
    QString text = QStringLiteral("第 %1 轮（%2%3）：%4/%5 块表应答正确")
                       .arg(number)
                       .arg(startedAt.toString(QStringLiteral("HH:mm:ss")))
                       .arg(stopped ? QStringLiteral("，已停止") : QString())
                       .arg(tally.GoodReads())
                       .arg(tally.Reads());
    if (stopped && tally.Reads() < labels.size())
        text += QStringLiteral("（清单共 %1 块）").arg(labels.size());
    text +=
        QStringLiteral("，用时 %1 秒").arg(std::chrono::duration<double>(took).count(), 0, 'f', 1);
    // The meters that failed, by what failed, in the order of the verdicts.
    std::map<protocol::Verdict, QStringList> failed;
    for (std::size_t i = 0; i < tally.Meters().size() && i < labels.size(); ++i) {
        for (const auto& [verdict, times] : tally.Meters()[i].Failures)
            failed[verdict] << QString::fromStdString(labels[i]);
    }
    for (const auto& [verdict, meters] : failed)
        text += QStringLiteral("；") + Utf8(protocol::VerdictText(verdict)) + QStringLiteral("：") +
                meters.join(QStringLiteral("、"));
    return text;
}

} // namespace mbus::console

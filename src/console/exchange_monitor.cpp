#include "console/exchange_monitor.h"

#include "console/error_box.h"
#include "console/frame_analysis.h"
#include "console/frame_reception.h"
#include "console/main_window.h"
#include "console/readings_log.h"
#include "console/status_bar.h"
#include "protocol/reply_end.h"
#include "util/string_c.h"

#include <QTimer>

#include <algorithm>

namespace mbus::console {
namespace {

using protocol::ExchangeClock;

// How many requests keep their wall-clock time for a late reply's row.
constexpr std::size_t kSentTimesKept = 64;

// How late the time-out timer may fire before the window thread counts as held up, and how soon
// the time-out is looked at again while bytes it caught are being framed (one idle tick).
constexpr std::chrono::milliseconds kTimerSlack{100};
constexpr int kRecheckMs = 5;

// The status bar panel of the last exchange's verdict.
constexpr int kVerdictPanel = 4;

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

ExchangeMonitor::ExchangeMonitor(QObject* parent)
    : QObject(parent), Tracker_(std::chrono::milliseconds(kDefaultTimeoutMs)) {
    Deadline_.setSingleShot(true);
    Deadline_.setTimerType(Qt::PreciseTimer);
    connect(&Deadline_, &QTimer::timeout, this, [this] { RunGuarded([this] { ExpireDue(); }); });
}

void ExchangeMonitor::SetTimeoutMs(int ms) {
    Tracker_.SetTimeout(std::chrono::milliseconds(std::max(ms, 1)));
}

int ExchangeMonitor::TimeoutMs() const {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Tracker_.Timeout()).count());
}

std::uint64_t ExchangeMonitor::RequestSent(const std::string& bytes) {
    const std::uint64_t id = Tracker_.Sent(bytes, ExchangeClock::now());
    if (id == 0)
        return 0;
    SentTimes_[id] = QDateTime::currentDateTime();
    while (SentTimes_.size() > kSentTimesKept)
        SentTimes_.erase(SentTimes_.begin());
    ArmDeadline();
    return id;
}

bool ExchangeMonitor::EndsAnswer(const std::string& collected) const {
    if (!EndAnswersEarly_ || collected.empty())
        return false;
    const protocol::Exchange* waiting = Tracker_.OldestWaiting();
    if (waiting == nullptr || !waiting->Request)
        return false;
    if (!Assembler_.Holding())
        return protocol::EndsInAnswer(util::AsBytes(collected), *waiting->Request);
    return protocol::EndsInAnswer(util::AsBytes(Assembler_.Held() + collected), *waiting->Request);
}

std::optional<std::string> ExchangeMonitor::RoundAddressText() const {
    const protocol::Exchange* waiting = Tracker_.OldestWaiting();
    if (!EndAnswersEarly_ || waiting == nullptr || !waiting->Request)
        return std::nullopt;
    return protocol::AddressText(waiting->Request->Address);
}

void ExchangeMonitor::NameRequest(std::uint64_t id, std::string name) {
    Names_[id] = std::move(name);
    while (Names_.size() > kSentTimesKept)
        Names_.erase(Names_.begin());
}

std::optional<std::string> ExchangeMonitor::FrameCompleted(const std::string& frame) {
    return Assembler_.Add(frame, Tracker_.Waiting());
}

void ExchangeMonitor::FrameAnalysed(const std::string& analysed,
                                    const std::optional<protocol::ParsedReply>& reply) {
    if (const auto settled = Tracker_.Received(analysed, reply, ExchangeClock::now())) {
        Settle(*settled);
    } else if (reply && reply->Decoded()) {
        // A reading nobody asked for (another master on the line, a meter that sends by itself).
        if (ReadingsLog* log = ReadingsLog::Current())
            log->AddUnsolicited(*reply, QDateTime::currentDateTime(), CurrentPort());
    }
    ArmDeadline();
}

void ExchangeMonitor::DropHeld() {
    Assembler_.Flush();
}

void ExchangeMonitor::ExpireDue() {
    const auto now = ExchangeClock::now();
    if (const auto due = Tracker_.NextDeadline(); due && HeldUpPastTimeOut(*due, now)) {
        // The window thread was busy past the time-out (a dialog being built, a long repaint)
        // while bytes came in: they were on their way before the time-out was seen, so their
        // frame decides, however late the console frames it. At most one more time-out, for a
        // line that never goes quiet.
        Deadline_.start(kRecheckMs);
        return;
    }
    // A reply still being joined is analysed as it stands before its request times out.
    if (const auto held = Assembler_.Flush())
        AnalyseFrame(*held);
    for (const protocol::Exchange& exchange : Tracker_.Expire(now))
        Settle(exchange);
    ArmDeadline();
}

bool ExchangeMonitor::HeldUpPastTimeOut(ExchangeClock::time_point due,
                                        ExchangeClock::time_point now) const {
    return now - due > kTimerSlack && now - due < Tracker_.Timeout() && !RxFrame.RecData.empty();
}

void ExchangeMonitor::ArmDeadline() {
    const auto next = Tracker_.NextDeadline();
    if (!next) {
        Deadline_.stop();
        return;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - ExchangeClock::now());
    Deadline_.start(static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
}

void ExchangeMonitor::Settle(const protocol::Exchange& exchange) {
    ShowVerdict(exchange);
    if (ReadingsLog* log = ReadingsLog::Current()) {
        const auto sent = SentTimes_.find(exchange.Id);
        const auto name = Names_.find(exchange.Id);
        log->AddExchange(exchange,
                         sent != SentTimes_.end() ? sent->second : QDateTime::currentDateTime(),
                         CurrentPort(), name != Names_.end() ? name->second : std::string());
    }
    emit Settled(exchange);
    if (!TimedSendHeld_ || Tracker_.Waiting())
        return;
    // The timed send that waited for this exchange goes out now, and the period counts from it.
    TimedSendHeld_ = false;
    QTimer::singleShot(0, this, [] {
        if (!Form1 || !Form1->Timer1->isActive())
            return;
        Form1->Timer1->start();
        RunGuarded([] { Form1->Timer1Timer(Form1->Timer1); });
    });
}

void ExchangeMonitor::ShowVerdict(const protocol::Exchange& exchange) {
    if (!Form1)
        return;
    QString text = Utf8(protocol::VerdictText(exchange.Outcome));
    if (exchange.Outcome == protocol::Verdict::Good)
        text += QStringLiteral(" %1 ms").arg(exchange.Elapsed().count());
    Form1->sStatusBar1->SetPanelText(kVerdictPanel, text);
    Form1->sStatusBar1->SetPanelColor(kVerdictPanel, protocol::Failed(exchange.Outcome)
                                                         ? QColor(0xC0, 0x00, 0x00)
                                                         : QColor(0x00, 0x80, 0x00));
}

std::uint64_t NoteRequestSent(const std::string& bytes) {
    try {
        if (Form1 && Form1->Exchanges)
            return Form1->Exchanges->RequestSent(bytes);
    } catch (...) {
    }
    return 0;
}

void NoteFrameAnalysed(const std::string& analysed,
                       const std::optional<protocol::ParsedReply>& reply) {
    try {
        if (Form1 && Form1->Exchanges)
            Form1->Exchanges->FrameAnalysed(analysed, reply);
    } catch (...) {
    }
}

} // namespace mbus::console

// The console's requests and their answers. Every request the port takes (a press on 发送 or a
// timed send) opens an exchange; every analysed frame's reply is credited to the request it
// answers (protocol::ExchangeTracker); a request settles once: answered (with the verdict on the
// reply), without a reply when the reply time-out passes, with only its echo, or late. Each
// settled request becomes a row of the readings log and its verdict shows in the status bar's
// last panel ("正确 55 ms", "无应答", ... red for a failure). While a request waits, a reply the
// line delivers in bursts is joined before it is analysed, and timed sending holds its next
// request back until the exchange has ended, so a request never goes out over a meter's answer.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "protocol/exchange.h"
#include "protocol/parsed_reply.h"
#include "protocol/reply_assembly.h"

namespace mbus::console {

class ExchangeMonitor : public QObject {
    Q_OBJECT
public:
    // How long a request waits for its reply unless the user sets another time.
    static constexpr int kDefaultTimeoutMs = 2000;

    explicit ExchangeMonitor(QObject* parent = nullptr);

    // The reply time-out for requests sent from now on.
    void SetTimeoutMs(int ms);
    int TimeoutMs() const;

    // `bytes` went out to the port: gives the id of the exchange they opened, whose settling
    // Settled reports (0 for empty bytes, which are no request).
    std::uint64_t RequestSent(const std::string& bytes);
    // A frame of the quiet-gap framing completed: the bytes to analyse now, joined behind what
    // was held, or none while a reply is still coming in bursts.
    std::optional<std::string> FrameCompleted(const std::string& frame);
    // The frame `analysed` held `reply` (none: no reply found).
    void FrameAnalysed(const std::string& analysed,
                       const std::optional<protocol::ParsedReply>& reply);
    // Drops a reply held for joining (the clear command).
    void DropHeld();

    // Whether a request waits for its answer.
    bool Waiting() const { return Tracker_.Waiting(); }
    // A timed send came while a request waited: it goes out when the exchange ends (at most one
    // is held; a timer that stops meanwhile drops it).
    void HoldTimedSend() { TimedSendHeld_ = true; }

    // While on (a round of meters runs), an exchange ends as soon as its answer is whole: the
    // receive road asks EndsAnswer after every data event and completes the frame at once when
    // it holds. Off, frames end at the quiet gap alone.
    void SetEndAnswersEarly(bool on) { EndAnswersEarly_ = on; }
    // Whether answers end early and `collected` (joined behind a reply held for joining) ends in
    // the whole, sound answer to the oldest request waiting (protocol::EndsInAnswer).
    bool EndsAnswer(const std::string& collected) const;
    // While answers end early: the address (as typed) of the request a frame is analysed for,
    // the oldest waiting; none otherwise.
    std::optional<std::string> RoundAddressText() const;
    // The name of the meter the request `id` reads, for its row in the readings log.
    void NameRequest(std::uint64_t id, std::string name);

signals:
    // A request settled; its verdict is shown already.
    void Settled(const protocol::Exchange& exchange);

private:
    void Settle(const protocol::Exchange& exchange);
    void ExpireDue();
    // Whether the time-out falling due at `due` is seen late at `now` with received bytes not
    // yet framed.
    bool HeldUpPastTimeOut(protocol::ExchangeClock::time_point due,
                           protocol::ExchangeClock::time_point now) const;
    void ArmDeadline();
    void ShowVerdict(const protocol::Exchange& exchange);

    protocol::ExchangeTracker Tracker_;
    protocol::ReplyAssembler Assembler_;
    QTimer Deadline_;
    std::map<std::uint64_t, QDateTime> SentTimes_; // of the latest requests, for their rows
    std::map<std::uint64_t, std::string> Names_;   // of the latest named requests
    bool TimedSendHeld_ = false;
    bool EndAnswersEarly_ = false;
};

// The hooks of the sending and decoding routines, to Form1's monitor; they never raise (the
// monitor is an addition that must not disturb sending or decoding).
// NoteRequestSent gives the id of the exchange the request opened (0: none).
std::uint64_t NoteRequestSent(const std::string& bytes);
void NoteFrameAnalysed(const std::string& analysed,
                       const std::optional<protocol::ParsedReply>& reply);

} // namespace mbus::console

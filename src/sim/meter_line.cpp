#include "sim/meter_line.h"

#include <algorithm>
#include <iterator>

namespace mbus::sim {

bool MeterLineLoop::Run(const std::function<bool()>& stopRequested, std::string& error) {
    while (!stopRequested()) {
        MoveDueBursts();
        const auto ready = Line_.WaitMaster(!Outgoing_.empty(), Timeout());
        if (!ready.Failure.empty()) {
            error = ready.Failure;
            return false;
        }
        if (ready.DeviceClosed)
            DropWhatWasUnderWay();
        if (ready.Readable && !Receive(error))
            return false;
        if (!Outgoing_.empty() && !Send(error))
            return false;
    }
    return true;
}

void MeterLineLoop::MoveDueBursts() {
    const auto now = SteadyClock::now();
    while (!Scheduled_.empty() && Scheduled_.begin()->first <= now) {
        const auto& [due, bytes] = *Scheduled_.begin();
        if (!Pace_.Paced()) {
            Outgoing_.insert(Outgoing_.end(), bytes.begin(), bytes.end());
        } else {
            if (OnWire_.empty())
                NextByteOut_ = std::max(due, WireFree_) + Pace_.ByteTime;
            OnWire_.insert(OnWire_.end(), bytes.begin(), bytes.end());
        }
        Scheduled_.erase(Scheduled_.begin());
    }
    // A byte goes to the line when it would have reached the far end whole: a late wake-up
    // hands over several at once, and the pace does not drift.
    while (!OnWire_.empty() && NextByteOut_ <= now) {
        Outgoing_.push_back(OnWire_.front());
        OnWire_.pop_front();
        WireFree_ = NextByteOut_;
        NextByteOut_ += Pace_.ByteTime;
    }
}

void MeterLineLoop::DropWhatWasUnderWay() {
    Scheduled_.clear();
    OnWire_.clear();
    Outgoing_.clear();
    Partial_.clear();
    Unheard_.clear();
    Simulator_.DropPartialRequest();
    Line_.DiscardQueued();
}

bool MeterLineLoop::Answering() const {
    return !Scheduled_.empty() || !OnWire_.empty() || !Outgoing_.empty();
}

std::uint32_t MeterLineLoop::Timeout() const {
    if (!Outgoing_.empty() || (Scheduled_.empty() && OnWire_.empty()))
        return kStopCheckMs;
    SteadyClock::time_point next = OnWire_.empty() ? SteadyClock::time_point::max() : NextByteOut_;
    if (!Scheduled_.empty())
        next = std::min(next, Scheduled_.begin()->first);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - SteadyClock::now());
    return static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(wait.count(), 0, std::int64_t{kStopCheckMs}));
}

bool MeterLineLoop::Receive(std::string& error) {
    std::uint8_t chunk[4096];
    for (;;) {
        const auto got = Line_.ReadMaster(chunk);
        if (got.Failed()) {
            error = got.Failure;
            return false;
        }
        if (got.Count == 0)
            return true;
        Hear({chunk, got.Count}, SteadyClock::now());
    }
}

void MeterLineLoop::Hear(std::span<const std::uint8_t> bytes, SteadyClock::time_point now) {
    if (!Answering())
        Unheard_.clear(); // what came during the last reply and made no request is gone
    // On a real line byte i of what came is in when i + 1 bytes have passed since the line was
    // free for them.
    const SteadyClock::time_point from = std::max(now, HeardUntil_);
    std::size_t heard = 0;
    while (heard < bytes.size()) {
        // While a reply is under way the meter is busy and hears nothing: requests are not
        // queued, so a flood of them cannot pile up replies (or memory).
        if (Answering()) {
            Drop(bytes.subspan(heard));
            return;
        }
        // The simulator hears up to the end of the next request at once, with what came before
        // it (the wake-up bytes its echo repeats).
        const std::size_t end = heard + RequestEnd(bytes.subspan(heard));
        const SteadyClock::time_point in = from + Pace_.WireTime(end);
        HeardUntil_ = in;
        for (Burst& burst : Simulator_.Receive(bytes.subspan(heard, end - heard)))
            Scheduled_.emplace(in + std::chrono::milliseconds(burst.AfterMs),
                               std::move(burst.Bytes));
        heard = end;
    }
}

std::size_t MeterLineLoop::RequestEnd(std::span<const std::uint8_t> bytes) {
    const std::size_t before = Partial_.size();
    Partial_.insert(Partial_.end(), bytes.begin(), bytes.end());
    const protocol::RequestScan scan = protocol::ScanReadRequest(Partial_);
    if (scan.Request) {
        // What was kept before held no whole request: this one ends in the new bytes.
        Partial_.clear();
        return scan.Consumed > before ? scan.Consumed - before : bytes.size();
    }
    Partial_.erase(Partial_.begin(), Partial_.begin() + static_cast<std::ptrdiff_t>(scan.Consumed));
    return bytes.size();
}

void MeterLineLoop::Drop(std::span<const std::uint8_t> bytes) {
    Partial_.clear();
    Unheard_.insert(Unheard_.end(), bytes.begin(), bytes.end());
    for (;;) {
        const protocol::RequestScan scan = protocol::ScanReadRequest(Unheard_);
        Unheard_.erase(Unheard_.begin(),
                       Unheard_.begin() + static_cast<std::ptrdiff_t>(scan.Consumed));
        if (!scan.Request) {
            // Kept back for a request still coming: never more than a few requests' worth.
            constexpr std::size_t kMostKept = 256;
            if (Unheard_.size() > kMostKept)
                Unheard_.erase(Unheard_.begin(), Unheard_.end() - kMostKept);
            return;
        }
        if (Dropped_)
            Dropped_(*scan.Request);
    }
}

bool MeterLineLoop::Send(std::string& error) {
    while (!Outgoing_.empty()) {
        const auto put = Line_.WriteMaster(Outgoing_);
        if (put.Failed()) {
            error = put.Failure;
            return false;
        }
        if (put.Count == 0)
            return true; // the line is full: wait until it takes more
        Outgoing_.erase(Outgoing_.begin(),
                        Outgoing_.begin() + static_cast<std::ptrdiff_t>(put.Count));
        if (Outgoing_.empty() && OnWire_.empty() && Sent_)
            Sent_(SteadyClock::now());
    }
    return true;
}

MeterLineThread::MeterLineThread(platform::PseudoTerminal& line, SimulatorOptions options,
                                 LinePace pace)
    : Simulator_(std::move(options), [] { return protocol::MeterClock{}; }) {
    Thread_ = std::thread([this, &line, pace] {
        MeterLineLoop loop(line, Simulator_, [this](SteadyClock::time_point sentAt) {
            LastReplySent_.store(sentAt.time_since_epoch().count());
        });
        loop.SetPace(pace);
        std::string error;
        loop.Run([this] { return Stop_.load(); }, error);
    });
}

MeterLineThread::~MeterLineThread() {
    Stop_.store(true);
    Thread_.join();
}

SteadyClock::time_point MeterLineThread::LastReplySent() const {
    return SteadyClock::time_point(SteadyClock::duration(LastReplySent_.load()));
}

} // namespace mbus::sim

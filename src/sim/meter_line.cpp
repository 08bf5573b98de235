#include "sim/meter_line.h"

#include <algorithm>

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
        const auto& bytes = Scheduled_.begin()->second;
        Outgoing_.insert(Outgoing_.end(), bytes.begin(), bytes.end());
        Scheduled_.erase(Scheduled_.begin());
    }
}

void MeterLineLoop::DropWhatWasUnderWay() {
    Scheduled_.clear();
    Outgoing_.clear();
    Simulator_.DropPartialRequest();
    Line_.DiscardQueued();
}

bool MeterLineLoop::Answering() const {
    return !Scheduled_.empty() || !Outgoing_.empty();
}

std::uint32_t MeterLineLoop::Timeout() const {
    if (!Outgoing_.empty() || Scheduled_.empty())
        return kStopCheckMs;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(Scheduled_.begin()->first -
                                                                   SteadyClock::now());
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
        // While a reply is under way the meter is busy and hears nothing: requests are not
        // queued, so a flood of them cannot pile up replies (or memory).
        if (Answering())
            continue;
        const auto now = SteadyClock::now();
        for (Burst& burst : Simulator_.Receive({chunk, got.Count}))
            Scheduled_.emplace(now + std::chrono::milliseconds(burst.AfterMs),
                               std::move(burst.Bytes));
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
        if (Outgoing_.empty() && Sent_)
            Sent_(SteadyClock::now());
    }
    return true;
}

MeterLineThread::MeterLineThread(platform::PseudoTerminal& line, SimulatorOptions options)
    : Simulator_(std::move(options), [] { return protocol::MeterClock{}; }) {
    Thread_ = std::thread([this, &line] {
        MeterLineLoop loop(line, Simulator_, [this](SteadyClock::time_point sentAt) {
            LastReplySent_.store(sentAt.time_since_epoch().count());
        });
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

#include "tools/reader_session.h"

#include "platform/message_window.h"
#include "serial/codes.h"
#include "serial/raise_on_error.h"

#include <algorithm>

namespace mbus::tools {

ReaderSession::ReaderSession(const LineSettings& settings) {
    Port_.SetPromptForPort(false);
    Port_.SetComNumber(settings.ComNumber);
    Port_.SetBaud(settings.Baud);
    Port_.SetParity(settings.Parity);
    Port_.SetOnTriggerAvail([this](serial::TComponent*, std::uint16_t count) {
        for (std::uint16_t i = 0; i < count; ++i)
            protocol::ReceiveByte(RxFrame_, Port_.ReadChar());
        Delivered_ = true;
    });
    Port_.SetOnPortLost([this](serial::TComponent*, const std::string&) { Lost_ = true; });
    Port_.SetOpen(true);
    NextTick_ = Clock::now() + kTickPeriod;
}

ReaderSession::Clock::time_point ReaderSession::Send(const std::string& bytes) {
    const Clock::time_point sentAt = Clock::now();
    if (Lost_)
        serial::RaiseOnError(nullptr, serial::ecPutBlockFail);
    Port_.SendString(bytes);
    return sentAt;
}

bool ReaderSession::Reopen() {
    if (!Lost_)
        return true;
    try {
        Port_.SetOpen(true);
    } catch (const std::exception&) {
        return false; // not back yet
    }
    Lost_ = false;
    return true;
}

std::optional<ReaderSession::Frame> ReaderSession::NextFrame(Clock::time_point deadline,
                                                             const std::function<bool()>& stop) {
    for (;;) {
        if (!Ended_)
            ServeMessagesUntil(std::min(NextTick_, deadline));
        const Clock::time_point now = Clock::now();
        // A frame completes within the deadline or is left for the next call.
        if (now >= deadline)
            return std::nullopt;
        if (Ended_)
            return TakeFrame(now);
        if (RxFrame_.RecData.size() >= kLongestFrame) {
            // The line has not gone quiet for a whole frame's worth: what has come is a frame,
            // and collecting starts afresh with what came after it.
            if (stop && stop())
                return std::nullopt;
            Frame frame{RxFrame_.RecData.substr(0, kLongestFrame), now};
            RxFrame_.RecData.erase(0, kLongestFrame);
            return frame;
        }
        if (now >= NextTick_) {
            // Like a timer, the tick does not catch up on periods it missed: one tick, then the
            // next one a period later.
            NextTick_ += kTickPeriod;
            if (NextTick_ <= now)
                NextTick_ = now + kTickPeriod;
            if (protocol::IdleTick(RxFrame_, QuietTicks_))
                return TakeFrame(now);
            if (stop && stop())
                return std::nullopt;
        }
    }
}

ReaderSession::Frame ReaderSession::TakeFrame(Clock::time_point at) {
    Frame frame{std::move(RxFrame_.RecData), at};
    RxFrame_.RecData.clear();
    Ended_ = false;
    return frame;
}

void ReaderSession::ServeMessagesUntil(Clock::time_point until) {
    for (;;) {
        while (RxFrame_.RecData.size() < kLongestFrame && Clock::now() < until &&
               platform::PumpOneMessage()) {
            if (Delivered_ && FrameEnd_) {
                Delivered_ = false;
                Ended_ = !RxFrame_.RecData.empty() && FrameEnd_(RxFrame_.RecData);
            }
            if (Ended_)
                return;
        }
        if (RxFrame_.RecData.size() >= kLongestFrame)
            return;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0)
            return;
        platform::WaitForMessage(static_cast<std::uint32_t>(left.count()));
    }
}

} // namespace mbus::tools

// The console's receive road without a window, for `mbus read`: one TComPort opened on the
// calling thread, whose data events feed the quiet-gap framing, and the idle tick every 5 ms run
// by a loop that serves the thread's window messages in between (the port's events arrive as
// messages to that thread). A frame is bounded: a line that never goes quiet gives a frame of
// kLongestFrame bytes at a time instead of one that grows without end. A caller that knows where
// an answer ends may end a frame as soon as the collected bytes hold it (SetFrameEnd). The caller
// sends through the session and takes complete frames; the port closes when the session goes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/receive_framing.h"
#include "serial/base_dispatcher.h"
#include "serial/com_port.h"

namespace mbus::tools {

struct LineSettings {
    std::uint16_t ComNumber = 0;
    std::int32_t Baud = 2400;
    serial::TParity Parity = serial::pNone;
};

class ReaderSession {
public:
    using Clock = std::chrono::steady_clock;

    // The idle timer's period, as the console's tmr1.
    static constexpr std::chrono::milliseconds kTickPeriod{5};

    // The most bytes a frame holds: one input buffer of the port component, which the console's
    // receive road takes its bytes from. Replies of the protocol are under a hundred bytes (the
    // decoder looks at the first 1025), so a real frame, with its noise and echo, is never cut;
    // bytes past this bound come from a line that does not go quiet (a device streaming
    // without a pause), and what has come so far is a frame of its own.
    static constexpr std::size_t kLongestFrame = serial::kInBufferSize;

    struct Frame {
        std::string Bytes;
        Clock::time_point CompletedAt; // the tick that completed it
    };

    // Opens the port with the settings; raises what TComPort raises when it cannot (EBadId,
    // EAlreadyOpen, EInOutError, ...).
    explicit ReaderSession(const LineSettings& settings);
    ReaderSession(const ReaderSession&) = delete;
    ReaderSession& operator=(const ReaderSession&) = delete;

    // Hands the bytes to the port and returns the moment it took them; raises what SendString
    // raises, and EPutBlockFail once the line was lost under the port (the port closed itself
    // then; it is not opened again behind the caller's back).
    Clock::time_point Send(const std::string& bytes);

    // Serves the port and ticks until a frame completes (the line was quiet, or kLongestFrame
    // bytes came), `deadline` passes or `stop` holds (checked at every tick and before a frame
    // that the bound completes); none in the latter two cases. A frame that would complete after
    // the deadline is left for the next call.
    std::optional<Frame> NextFrame(Clock::time_point deadline, const std::function<bool()>& stop);

    // Besides the quiet gap, a frame ends as soon as the bytes collected for it satisfy
    // `complete`, asked after every delivery of received bytes; empty: the gap alone.
    void SetFrameEnd(std::function<bool(std::string_view collected)> complete) {
        FrameEnd_ = std::move(complete);
    }

    // Whether the line died under the open port (the port closed itself then), and opening it
    // again with the same settings once its COM number stands for a terminal again: true when
    // the port is open (again).
    bool Lost() const { return Lost_; }
    bool Reopen();

    // How many received bytes are waiting to become a frame.
    std::size_t Collected() const { return RxFrame_.RecData.size(); }

    // Widens the quiet gap that ends a frame (protocol::QuietTicksOfGap).
    void SetQuietTicks(std::uint16_t ticks) { QuietTicks_ = ticks; }

private:
    // Serves window messages until `until`, waiting for them in between, or until the collected
    // bytes fill a frame or the frame end holds for them.
    void ServeMessagesUntil(Clock::time_point until);
    // The collected bytes as a frame, completed `at`; collecting starts afresh.
    Frame TakeFrame(Clock::time_point at);

    // Declared before the port: the port's close, in its destructor, may still deliver bytes.
    protocol::ComRec_Struct RxFrame_;
    Clock::time_point NextTick_;
    std::uint16_t QuietTicks_ = protocol::kQuietTicks;
    std::function<bool(std::string_view)> FrameEnd_;
    bool Delivered_ = false; // bytes came since the frame end was last asked
    bool Ended_ = false;     // the frame end holds for the bytes collected
    bool Lost_ = false;      // the line died under the open port
    serial::TComPort Port_;
};

} // namespace mbus::tools

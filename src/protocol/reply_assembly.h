// Joining a reply that the line delivers in bursts. Radio and GPRS transparent links and USB
// adapters with long latency timers pause inside a reply for longer than the quiet gap, so the
// gap cuts it into several frames, none of which decodes. While a request waits for its answer,
// a frame that holds the start of a reply whose header or data length says more is coming is held
// and joined with the frames after it until the reply is whole; the caller flushes what is held
// when the request's time-out passes. The console's traffic view still shows the frames as they
// came; only what is analysed is joined.
#pragma once

#include <optional>
#include <string>

namespace mbus::protocol {

class ReplyAssembler {
public:
    // Takes one frame of the quiet-gap framing. Gives the bytes to analyse now: the frame, joined
    // behind what was held, unless `holding` allows (a request waits for its answer) and the
    // joined bytes end in an unfinished reply; then none, and the bytes are held. Nothing is held
    // beyond the analysis work buffer.
    std::optional<std::string> Add(const std::string& frame, bool holding);

    // What is held (none when nothing is), given up on: the reply's time-out passed.
    std::optional<std::string> Flush();

    bool Holding() const { return !Held_.empty(); }
    // The bytes held, which the next frame is joined behind.
    const std::string& Held() const { return Held_; }

private:
    std::string Held_;
};

// Whether `bytes` end in an unfinished reply: a start byte 0x68 whose header is cut short, or
// whose control code has the reply bit and whose data length asks for more bytes than follow.
// Whole messages (requests and replies alike) are stepped over, so their data bytes are never
// taken for a start byte.
bool EndsInUnfinishedReply(const std::string& bytes);

} // namespace mbus::protocol

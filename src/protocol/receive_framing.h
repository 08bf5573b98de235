// Framing replies by silence: every received byte goes into a receive accumulator, and an idle
// timer declares the accumulated bytes one complete frame once the line has been quiet for more
// than ten of its ticks. The console's traffic view and `mbus read` frame with the same rule.
#pragma once

#include <cstdint>
#include <string>

namespace mbus::protocol {

// Ticks of quiet after which the accumulated bytes are a frame (the eleventh tick completes it).
inline constexpr std::uint16_t kQuietTicks = 10;

struct ComRec_Struct {
    std::string RecData;         // bytes since the current frame began, in arrival order
    bool RecDone = false;        // set at every eleventh quiet tick, cleared by every byte
    std::uint16_t IdleTicks = 0; // idle-timer ticks since the last byte (0..11)
};

// Adds one received byte to the accumulator.
void ReceiveByte(ComRec_Struct& frame, char byte);

// One tick of the idle timer. True when the accumulated bytes are a complete frame now: the
// caller shows and decodes RecData, then empties it. `quietTicks` widens the gap for links that
// pause inside a frame: the frame is due at the tick after that many quiet ones.
bool IdleTick(ComRec_Struct& frame, std::uint16_t quietTicks = kQuietTicks);

// The quiet ticks for a gap of `gapMs` milliseconds of 5 ms ticks (the default gap, 55 ms, gives
// kQuietTicks).
std::uint16_t QuietTicksOfGap(std::uint32_t gapMs);

} // namespace mbus::protocol

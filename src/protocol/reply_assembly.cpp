#include "protocol/reply_assembly.h"

#include "protocol/frame_layout.h"
#include "protocol/parsed_reply.h"

#include <cstdint>
#include <utility>

namespace mbus::protocol {

bool EndsInUnfinishedReply(const std::string& bytes) {
    constexpr std::uint8_t kReplyBit = 0x80;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (static_cast<std::uint8_t>(bytes[at]) != kStartByte) {
            ++at;
            continue;
        }
        const std::size_t left = bytes.size() - at;
        if (left <= kLengthAt)
            return true; // the header is cut short: it may be a reply's
        const auto control = static_cast<std::uint8_t>(bytes[at + kControlAt]);
        const std::size_t size = MessageSize(static_cast<std::uint8_t>(bytes[at + kLengthAt]));
        if (left < size) {
            if ((control & kReplyBit) != 0)
                return true;
            ++at; // a cut request (an echo) or noise: the reply may still start further on
            continue;
        }
        // A whole message when its end byte stands where its length says: step over it.
        at += static_cast<std::uint8_t>(bytes[at + size - 1]) == kEndByte ? size : 1;
    }
    return false;
}

std::optional<std::string> ReplyAssembler::Add(const std::string& frame, bool holding) {
    Held_ += frame;
    if (holding && Held_.size() < kAnalyseBufferSize && EndsInUnfinishedReply(Held_))
        return std::nullopt;
    return std::exchange(Held_, std::string());
}

std::optional<std::string> ReplyAssembler::Flush() {
    if (Held_.empty())
        return std::nullopt;
    return std::exchange(Held_, std::string());
}

} // namespace mbus::protocol

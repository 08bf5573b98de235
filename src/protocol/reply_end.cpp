#include "protocol/reply_end.h"

#include <algorithm>
#include <numeric>

namespace mbus::protocol {
namespace {

bool Fits(std::uint8_t replied, std::uint8_t asked) {
    return asked == kWildcardByte || replied == asked;
}

} // namespace

bool EndsInAnswer(std::span<const std::uint8_t> received, const ReadRequest& request) {
    constexpr std::size_t kShortest = MessageSize(0);
    if (received.size() < kShortest || received.back() != kEndByte)
        return false;
    const bool anyAddress = std::all_of(request.Address.begin(), request.Address.end(),
                                        [](std::uint8_t b) { return b == kWildcardByte; });
    const std::uint8_t answerControl = request.Control | kReplyBit;
    // Every start byte from which a message could end exactly here.
    const std::size_t earliest = received.size() - std::min(received.size(), MessageSize(0xFF));
    for (std::size_t at = received.size() - kShortest + 1; at-- > earliest;) {
        const auto message = received.subspan(at);
        if (message[0] != kStartByte || MessageSize(message[kLengthAt]) != message.size())
            continue;
        const std::uint8_t control = message[kControlAt];
        if ((control & ~kErrorBit) != answerControl || !Fits(message[kTypeAt], request.TypeCode))
            continue;
        if (!anyAddress && !std::equal(request.Address.begin(), request.Address.end(),
                                       message.begin() + kAddressAt))
            continue;
        const std::size_t checksumAt = message.size() - 2;
        const auto sum = std::accumulate(
            message.begin(), message.begin() + checksumAt, std::uint8_t{0},
            [](std::uint8_t s, std::uint8_t b) { return static_cast<std::uint8_t>(s + b); });
        if (sum == message[checksumAt])
            return true;
    }
    return false;
}

} // namespace mbus::protocol

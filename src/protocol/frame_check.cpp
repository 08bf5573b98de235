#include "protocol/frame_check.h"

#include "util/string_c.h"

#include <algorithm>

namespace mbus::protocol {
namespace {

bool IsWildcard(const LineAddress& address) {
    return std::all_of(address.begin(), address.end(),
                       [](std::uint8_t b) { return b == kWildcardByte; });
}

} // namespace

FrameCheck CheckFrame(std::span<const std::uint8_t> received, std::size_t controlAt,
                      const ReadRequest* request) {
    FrameCheck check;
    if (controlAt < kControlAt || controlAt >= received.size())
        return check;
    const auto frame = received.subspan(controlAt - kControlAt);
    check.Start = frame[0] == kStartByte;

    if (request) {
        if (!IsWildcard(request->Address))
            check.AddressMatch =
                std::equal(request->Address.begin(), request->Address.end(), &frame[kAddressAt]);
        if (request->TypeCode != kWildcardByte)
            check.TypeMatch = frame[kTypeAt] == request->TypeCode;
    }

    if (frame.size() <= kLengthAt)
        return check;
    const std::uint8_t dataLength = frame[kLengthAt];
    if (frame.size() < MessageSize(dataLength))
        return check;
    check.Complete = true;
    const std::size_t checksumAt = ChecksumAt(dataLength);
    check.Checksum = frame[checksumAt] == util::SumBytes(frame.first(checksumAt));
    check.End = frame[checksumAt + 1] == kEndByte;
    return check;
}

CheckFailure FirstFailure(const FrameCheck& check) {
    if (!check.Complete)
        return CheckFailure::Incomplete;
    const std::pair<const std::optional<bool>&, CheckFailure> checks[] = {
        {check.Start, CheckFailure::Start},    {check.Checksum, CheckFailure::Checksum},
        {check.End, CheckFailure::End},        {check.AddressMatch, CheckFailure::Address},
        {check.TypeMatch, CheckFailure::Type}, {check.SequenceMatch, CheckFailure::Sequence},
    };
    for (const auto& [result, failure] : checks) {
        if (result == false)
            return failure;
    }
    return CheckFailure::None;
}

} // namespace mbus::protocol

#include "protocol/request.h"

#include "util/string_c.h"

#include <algorithm>

namespace mbus::protocol {
namespace {

constexpr std::size_t kMaxRequestData = kMaxRequestDataLength - kRequestDataLength;

// Whether the bytes from a start byte can still become a request: what is there so far fits one.
bool MayBecomeRequest(std::span<const std::uint8_t> from) {
    if (from.size() > kControlAt && (from[kControlAt] & kReplyBit) != 0)
        return false;
    if (from.size() > kLengthAt) {
        const std::uint8_t length = from[kLengthAt];
        return length >= kRequestDataLength && length <= kMaxRequestDataLength;
    }
    return true;
}

} // namespace

std::uint8_t ReadRequest::DataLength() const {
    return static_cast<std::uint8_t>(kRequestDataLength + std::min(Data.size(), kMaxRequestData));
}

std::vector<std::uint8_t> BuildRequest(const ReadRequest& request, std::size_t wakeUpBytes) {
    const std::uint8_t dataLength = request.DataLength();
    std::vector<std::uint8_t> bytes(wakeUpBytes, kWakeUpByte);
    bytes.resize(wakeUpBytes + MessageSize(dataLength));
    const auto message = std::span<std::uint8_t>(bytes).subspan(wakeUpBytes);
    WriteMessageHead(message, request.TypeCode, request.Address, request.Control, dataLength,
                     request.DataId);
    message[kSequenceAt] = request.Sequence;
    std::copy_n(request.Data.begin(), dataLength - kRequestDataLength,
                message.begin() + kSequenceAt + 1);
    WriteMessageTail(message, dataLength);
    return bytes;
}

RequestScan ScanReadRequest(std::span<const std::uint8_t> bytes) {
    std::optional<std::size_t> keepFrom; // the first start byte that may still begin a request
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        if (bytes[at] != kStartByte)
            continue;
        const auto from = bytes.subspan(at);
        if (!MayBecomeRequest(from))
            continue;
        if (from.size() <= kLengthAt || from.size() < MessageSize(from[kLengthAt])) {
            if (!keepFrom)
                keepFrom = at; // a later start byte may still hold a shorter, complete request
            continue;
        }
        const std::uint8_t dataLength = from[kLengthAt];
        const std::size_t checksumAt = ChecksumAt(dataLength);
        const auto frame = from.first(MessageSize(dataLength));
        if (frame[checksumAt] != util::SumBytes(frame.first(checksumAt)) ||
            frame[checksumAt + 1] != kEndByte)
            continue;
        ReadRequest request;
        request.Control = frame[kControlAt];
        request.TypeCode = frame[kTypeAt];
        std::copy_n(frame.begin() + kAddressAt, kAddressSize, request.Address.begin());
        std::copy_n(frame.begin() + kDataIdAt, kDataIdSize, request.DataId.begin());
        request.Sequence = frame[kSequenceAt];
        request.Data.assign(frame.begin() + kSequenceAt + 1, frame.begin() + checksumAt);
        return {std::move(request), at + frame.size()};
    }
    return {std::nullopt, keepFrom.value_or(bytes.size())};
}

} // namespace mbus::protocol

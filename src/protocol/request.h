// The requests the reader side sends, as the reply side sees them: a read-data (control 0x01) or
// read-address (control 0x03) request taken apart, and finding the first complete request in
// received bytes. The reader knows what it asked from these (to check a reply against its
// request); the simulated meter finds the requests it answers with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/frame_layout.h"

namespace mbus::protocol {

// A read-data (control 0x01) or read-address (control 0x03) request.
struct ReadRequest {
    std::uint8_t Control = kControlRead;
    std::uint8_t TypeCode = 0;
    LineAddress Address{};
    DataIdentifier DataId{};
    std::uint8_t Sequence = 0;
};

struct RequestScan {
    std::optional<ReadRequest> Request; // the first complete, valid request
    std::size_t Consumed = 0; // bytes up to the request's end byte, or bytes that cannot begin one
};

// Looks for 0x68, type, address, control 0x01 or 0x03, length 0x03, identifier, sequence, the
// 8-bit sum from 0x68 to the sequence, end 0x16. Bytes before it (wake-up bytes, noise) are
// skipped. Without a request, `Consumed` keeps back every byte from the first start byte that a
// later byte may still complete.
RequestScan ScanReadRequest(std::span<const std::uint8_t> bytes);

} // namespace mbus::protocol

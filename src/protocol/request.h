// The requests the reader side sends, as both sides see them: any request taken apart (control
// code, meter type and address, data identifier, sequence number, the data after it), the one
// builder that puts a request on the line, and finding the first complete request in received
// bytes. `mbus` and the console build what they send with BuildRequest (the console's own
// read-data buffer is BuildReadFrame's) and know what they asked from the request (to check a
// reply against it); the simulated meter finds the requests it answers with ScanReadRequest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/frame_layout.h"

namespace mbus::protocol {

// A request: read data (control 0x01), read address (0x03), write data (0x04), read key version
// (0x09), write address (0x15), or any other code without the reply bit.
struct ReadRequest {
    std::uint8_t Control = kControlRead;
    std::uint8_t TypeCode = 0;
    LineAddress Address{};   // as on the line, least significant byte first
    DataIdentifier DataId{}; // in the order sent
    std::uint8_t Sequence = 0;
    std::vector<std::uint8_t> Data =
        {}; // after the sequence number; the data length is 3 + its size

    // The bytes from the identifier to the last data byte.
    std::uint8_t DataLength() const;
};

// `wakeUpBytes` 0xFE, then 0x68, type, address, control, data length, identifier, sequence,
// data, the 8-bit sum from 0x68 to the last data byte, 0x16. The data are cut to what the
// longest request holds (kMaxRequestDataLength).
std::vector<std::uint8_t> BuildRequest(const ReadRequest& request,
                                       std::size_t wakeUpBytes = kRequestWakeUpBytes);

struct RequestScan {
    std::optional<ReadRequest> Request; // the first complete, valid request
    std::size_t Consumed = 0; // bytes up to the request's end byte, or bytes that cannot begin one
};

// Looks for 0x68, type, address, a control code without the reply bit, a data length from 0x03
// to kMaxRequestDataLength, identifier, sequence, data, the 8-bit sum from 0x68 to the last data
// byte, end 0x16. Bytes before it (wake-up bytes, noise, replies) are skipped. Without a
// request, `Consumed` keeps back every byte from the first start byte that later bytes may still
// complete to a request.
RequestScan ScanReadRequest(std::span<const std::uint8_t> bytes);

} // namespace mbus::protocol

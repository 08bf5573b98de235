// The strict look at a reply that the lenient decoder skips: whether the chunk holds the whole
// frame, its start byte, checksum and end byte, and whether its address and type are the ones the
// request asked for. The readings log, `mbus decode --json` and `mbus read` report it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/request.h"

namespace mbus::protocol {

// One result per check; none where the check cannot be made.
struct FrameCheck {
    bool Complete = false;     // the chunk holds the frame from its start byte to its end byte
    std::optional<bool> Start; // 0x68 nine bytes before the control code (none: not in the chunk)
    std::optional<bool>
        Checksum;            // the 8-bit sum from 0x68 to the last data byte (none: incomplete)
    std::optional<bool> End; // 0x16 after the checksum (none: incomplete)
    std::optional<bool> AddressMatch;  // none without a request, for the wildcard address, or
                                       // when the header is not in the chunk
    std::optional<bool> TypeMatch;     // none without a request, for the wildcard type, or when
                                       // the header is not in the chunk
    std::optional<bool> SequenceMatch; // the reply echoes the request's sequence number; none
                                       // without a request or when the reply has none
};

// The checks in the order they are reported; the first failed one names a bad frame.
enum class CheckFailure { None, Incomplete, Start, Checksum, End, Address, Type, Sequence };

// Checks the frame whose control code stands at `controlAt` in `received` (its data length is
// the byte after it). `request` is the request it answers, or null when there is none to
// compare with. Where the sequence number stands depends on the kind of reply, so it is
// compared by CompareWithRequest (parsed_reply.h), which knows the kind.
FrameCheck CheckFrame(std::span<const std::uint8_t> received, std::size_t controlAt,
                      const ReadRequest* request = nullptr);

// The first check that failed, in the order of CheckFailure; checks that could not be made do
// not fail.
CheckFailure FirstFailure(const FrameCheck& check);

} // namespace mbus::protocol

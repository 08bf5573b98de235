// Where an answer ends. The quiet gap (eleven 5 ms ticks) ends a frame whatever it holds; a reader
// that works through many meters in turn ends an exchange as soon as the bytes it collected end
// in the whole answer to its request, and sends the next request at once. Only a reply that is
// sound in every check ends an exchange early; anything else (an echo, noise, a reply cut short,
// from another meter or with a wrong checksum) waits for the gap as before. `mbus read` on a list
// of meters and the console's round ask it after every delivery of received bytes.
#pragma once

#include <cstdint>
#include <span>

#include "protocol/request.h"

namespace mbus::protocol {

// Whether `received` ends in a whole reply to `request`: a start byte, the meter's type and
// address (those asked, or any for the wildcard), the control code of the request with the reply
// bit (and the error bit of a refusal), a data length that puts the checksum and end byte 0x16
// exactly at the end, and the right checksum. Bytes before it (wake-up bytes, an echo, noise)
// do not matter.
bool EndsInAnswer(std::span<const std::uint8_t> received, const ReadRequest& request);

} // namespace mbus::protocol

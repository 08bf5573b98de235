// Starting and completing the overlapped records of the comm device, and reading their results.
// A record's owner may free it the moment it sees the result, so completing and reading are
// ordered: the result is visible once the event is set, and a reader that has seen the result
// returns only after the completing thread has let go of the record.
#pragma once

#include <cstdint>

#include "platform/comm_device.h"

namespace mbus::platform::posix {

// Marks the record pending (ERROR_IO_PENDING) and resets its event.
void StartPending(Overlapped& record);

// Stores the result and the count, then sets the record's event. Nothing touches the record
// afterwards.
void CompleteRecord(Overlapped& record, std::uint32_t error, std::uint32_t transferred);

// The record's result: ERROR_IO_PENDING while pending (waiting for completion first when
// `wait`), otherwise its error and, in `transferred`, its count.
std::uint32_t RecordResult(Overlapped& record, bool wait, std::uint32_t& transferred);

} // namespace mbus::platform::posix

// Argument checks and wait lists that the comm device functions of every backend share. For the
// backends only.
#pragma once

#include "platform/comm_device.h"
#include "platform/system_error.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

namespace mbus::platform {

// Whether GetDefaultCommConfig may fill `config`: a size that holds a whole record (otherwise
// ERROR_INSUFFICIENT_BUFFER with the size needed stored) and a record; last error set when not.
inline bool CommConfigArgumentsValid(const COMMCONFIG* config, std::uint32_t* size) {
    if (size == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (*size < sizeof(COMMCONFIG)) {
        *size = sizeof(COMMCONFIG);
        return FailWith(ERROR_INSUFFICIENT_BUFFER);
    }
    if (config == nullptr)
        return FailWith(ERROR_INVALID_PARAMETER);
    return true;
}

// What WaitForOperation waits on: the record's event, then `others`. None, with
// ERROR_INVALID_PARAMETER set, without a record or its event.
inline std::optional<std::vector<Event*>> OperationWaitList(const Overlapped* overlapped,
                                                            std::initializer_list<Event*> others) {
    if (overlapped == nullptr || overlapped->hEvent == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    std::vector<Event*> events{overlapped->hEvent};
    events.insert(events.end(), others.begin(), others.end());
    return events;
}

} // namespace mbus::platform

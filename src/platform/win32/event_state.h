// The win32 backend's state of an Event: the kernel event object itself, which the comm device
// hands to the system's overlapped operations.
#pragma once

#include "platform/event.h"
#include "platform/win32/windows_api.h"

namespace mbus::platform {

struct Event::State {
    HANDLE Handle = nullptr;
    bool ManualReset = false;
};

} // namespace mbus::platform

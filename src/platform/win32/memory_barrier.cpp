#include "platform/memory_barrier.h"

#include <windows.h>

namespace mbus::platform {

// Windows has the barrier itself: every processor running a thread of the process is made to
// flush its write queue before the call returns.
bool FlushProcessWriteBuffers() {
    ::FlushProcessWriteBuffers();
    return true;
}

} // namespace mbus::platform

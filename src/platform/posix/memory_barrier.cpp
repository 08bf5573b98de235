#include "platform/memory_barrier.h"

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace mbus::platform {
namespace {

// The private expedited membarrier, registered once for the process; false when the kernel
// does not offer it.
bool RegisterBarrier() {
    const long commands = ::syscall(__NR_membarrier, MEMBARRIER_CMD_QUERY, 0, 0);
    if (commands < 0 || !(commands & MEMBARRIER_CMD_PRIVATE_EXPEDITED))
        return false;
    return ::syscall(__NR_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}

} // namespace

bool FlushProcessWriteBuffers() {
    static const bool available = RegisterBarrier();
    return available && ::syscall(__NR_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) == 0;
}

} // namespace mbus::platform

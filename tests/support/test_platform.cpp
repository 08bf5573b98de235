#include "support/test_platform.h"

#include "platform/platform_info.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace mbus::testing {

bool RunsUnderWine() {
    return platform::SystemDescription().find("(Wine ") != std::string::npos;
}

#ifdef _WIN32
int SystemPriorityOfThisThread() {
    return ::GetThreadPriority(::GetCurrentThread());
}

int SystemLowestPriority() {
    return THREAD_PRIORITY_LOWEST;
}
#else
int SystemPriorityOfThisThread() {
    return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
}

int SystemLowestPriority() {
    return 10;
}
#endif

} // namespace mbus::testing

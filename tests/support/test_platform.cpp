#include "support/test_platform.h"

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

#ifdef _WIN32
bool RunsUnderWine() {
    // Wine's ntdll says so through an export of its own.
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

int SystemPriorityOfThisThread() {
    return ::GetThreadPriority(::GetCurrentThread());
}

int SystemLowestPriority() {
    return THREAD_PRIORITY_LOWEST;
}

bool SentMessageWaiting() {
    return (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
}
#else
bool RunsUnderWine() {
    return false;
}

int SystemPriorityOfThisThread() {
    return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
}

int SystemLowestPriority() {
    return 10;
}

bool SentMessageWaiting() {
    return true;
}
#endif

} // namespace mbus::testing

#include "platform/worker_thread.h"

#include "platform/win32/windows_api.h"

namespace mbus::platform {
namespace {

// The system's priority steps, idle .. time-critical.
constexpr int kThreadPriorities[] = {
    THREAD_PRIORITY_IDLE,          THREAD_PRIORITY_LOWEST,       THREAD_PRIORITY_BELOW_NORMAL,
    THREAD_PRIORITY_NORMAL,        THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
    THREAD_PRIORITY_TIME_CRITICAL,
};

} // namespace

bool WorkerThread::Start() {
    if (Running_.exchange(true))
        return true; // started already
    const LPTHREAD_START_ROUTINE start = [](void* self) -> DWORD {
        Run(static_cast<WorkerThread*>(self));
        return 0;
    };
    const HANDLE thread = ::CreateThread(nullptr, 0, start, this, 0, nullptr);
    if (thread == nullptr) {
        const DWORD error = ::GetLastError();
        delete this;
        ::SetLastError(error);
        return false;
    }
    // The thread owns itself; from here on it may already have ended and freed the object.
    ::CloseHandle(thread);
    return true;
}

long WorkerThread::CurrentNativeId() {
    return static_cast<long>(::GetCurrentThreadId());
}

void WorkerThread::ApplyPriority() {
    const auto id = static_cast<DWORD>(NativeId_.load(std::memory_order_relaxed));
    const int priority = kThreadPriorities[Priority_.load(std::memory_order_relaxed)];
    if (id == ::GetCurrentThreadId()) {
        ::SetThreadPriority(::GetCurrentThread(), priority);
        return;
    }
    // Best effort: a thread that has ended meanwhile, or a priority the process may not take,
    // is not an error.
    if (const HANDLE thread = ::OpenThread(THREAD_SET_LIMITED_INFORMATION, FALSE, id)) {
        ::SetThreadPriority(thread, priority);
        ::CloseHandle(thread);
    }
}

} // namespace mbus::platform

#include "platform/worker_thread.h"

#include "platform/message_window.h"
#include "platform/win32/windows_api.h"

#include <cstdio>
#include <exception>

namespace mbus::platform {
namespace {

// The thread that runs static initialisation is the process's main thread.
const std::thread::id kMainThread = std::this_thread::get_id();

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

void WorkerThread::Run(WorkerThread* self) {
    self->NativeId_.store(static_cast<long>(::GetCurrentThreadId()), std::memory_order_relaxed);
    self->ApplyPriority();
    try {
        self->Execute();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "worker thread ended by an exception: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "worker thread ended by an exception\n");
    }
    delete self;
}

void WorkerThread::SetPriority(int priority) {
    if (priority < kPriorityIdle)
        priority = kPriorityIdle;
    if (priority > kPriorityTimeCritical)
        priority = kPriorityTimeCritical;
    Priority_.store(priority, std::memory_order_relaxed);
    if (NativeId_.load(std::memory_order_relaxed) != 0)
        ApplyPriority();
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

void WorkerThread::Synchronize(const std::function<void()>& call) {
    RunOnMainThread(call);
}

std::thread::id MainThreadId() {
    return kMainThread;
}

bool IsMainThread() {
    return std::this_thread::get_id() == kMainThread;
}

} // namespace mbus::platform

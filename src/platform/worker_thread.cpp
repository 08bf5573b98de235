// The backend-neutral part of worker threads: the thread's run, priority steps, the main thread.
// Each backend makes the thread (Start), knows the kernel's thread id and applies priorities.
#include "platform/worker_thread.h"

#include "platform/message_window.h"

#include <cstdio>
#include <exception>

namespace mbus::platform {
namespace {

// The thread that runs static initialisation is the process's main thread.
const std::thread::id kMainThread = std::this_thread::get_id();

} // namespace

void WorkerThread::Run(WorkerThread* self) {
    self->NativeId_.store(CurrentNativeId(), std::memory_order_relaxed);
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

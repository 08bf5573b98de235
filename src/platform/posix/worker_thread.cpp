#include "platform/worker_thread.h"

#include "platform/message_window.h"
#include "platform/system_error.h"

#include <cstdio>
#include <exception>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

namespace mbus::platform {
namespace {

// The thread that runs static initialisation is the process's main thread.
const std::thread::id kMainThread = std::this_thread::get_id();

// Nice values for the platform's priority steps, idle .. time-critical.
constexpr int kNiceOfPriority[] = {19, 10, 5, 0, -5, -10, -20};

} // namespace

bool WorkerThread::Start() {
    if (Running_.exchange(true))
        return true; // started already
    try {
        std::thread(&WorkerThread::Run, this).detach();
    } catch (const std::system_error& error) {
        SetLastError(ErrorFromErrno(error.code().value()));
        delete this;
        return false;
    }
    // From here on the thread may already have ended and freed the object.
    return true;
}

void WorkerThread::Run(WorkerThread* self) {
    self->NativeId_.store(static_cast<long>(gettid()), std::memory_order_relaxed);
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
    const long tid = NativeId_.load(std::memory_order_relaxed);
    const int nice = kNiceOfPriority[Priority_.load(std::memory_order_relaxed)];
    // On Linux the nice value of a thread id is the thread's own. Raising it needs a privilege
    // most users lack; that failure is not an error.
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
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

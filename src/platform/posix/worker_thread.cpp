#include "platform/worker_thread.h"

#include "platform/system_error.h"

#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

namespace mbus::platform {
namespace {

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

long WorkerThread::CurrentNativeId() {
    return static_cast<long>(gettid());
}

void WorkerThread::ApplyPriority() {
    const long tid = NativeId_.load(std::memory_order_relaxed);
    const int nice = kNiceOfPriority[Priority_.load(std::memory_order_relaxed)];
    // On Linux the nice value of a thread id is the thread's own. Raising it needs a privilege
    // most users lack; that failure is not an error.
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
}

} // namespace mbus::platform

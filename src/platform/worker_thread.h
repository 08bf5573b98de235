// Worker threads that own themselves: made suspended, started once, and freed by their own
// thread when Execute has returned. Priorities follow the platform's steps (idle .. time-critical)
// and are applied best-effort: a priority the process may not take is not an error.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace mbus::platform {

enum ThreadPriority : int {
    kPriorityIdle = 0,
    kPriorityLowest = 1,
    kPriorityLower = 2,
    kPriorityNormal = 3,
    kPriorityHigher = 4,
    kPriorityHighest = 5,
    kPriorityTimeCritical = 6,
};

class WorkerThread {
public:
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts the thread. Call once, on an object made with new; from then on the thread owns the
    // object and deletes it after Execute has returned. Returns false (object deleted, last error
    // set) when no thread can be made.
    bool Start();

    // Asks the thread to end; Execute polls Terminated().
    void Terminate() { Terminated_.store(true, std::memory_order_relaxed); }
    bool Terminated() const { return Terminated_.load(std::memory_order_relaxed); }

    // Best-effort priority, 0 (idle) .. 6 (time-critical); before Start it is kept and applied
    // when the thread begins.
    void SetPriority(int priority);
    int Priority() const { return Priority_.load(std::memory_order_relaxed); }

    // Runs `call` on the main thread and waits until it has run (directly when called there).
    // The main thread serves such calls while it processes messages (message_window.h).
    static void Synchronize(const std::function<void()>& call);

protected:
    WorkerThread() = default;
    virtual ~WorkerThread() = default;

    // The thread's work. An exception escaping it is reported on standard error and ends the
    // thread like a return.
    virtual void Execute() = 0;

private:
    static void Run(WorkerThread* self);
    static long CurrentNativeId(); // the calling thread's kernel id (backend)
    void ApplyPriority();          // applies Priority_ to the running thread (backend)

    std::atomic<bool> Terminated_{false};
    std::atomic<int> Priority_{kPriorityNormal};
    std::atomic<bool> Running_{false};
    std::atomic<long> NativeId_{0}; // kernel thread id once running (for priorities)
};

// Whether the calling thread is the process's main thread (the one that ran static
// initialisation, normally main()'s thread).
bool IsMainThread();
std::thread::id MainThreadId();

} // namespace mbus::platform

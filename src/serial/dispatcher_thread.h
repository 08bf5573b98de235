// TDispatcherThread, the base of the dispatcher's four worker threads, and TDispThread, the
// dispatcher thread that runs the dispatch pass. A worker thread is made suspended, recorded in
// its dispatcher, then started; it frees itself when it ends.
#pragma once

#include <cstdint>

#include "platform/worker_thread.h"
#include "serial/base_dispatcher.h"

namespace mbus::serial {

class TDispatcherThread : public platform::WorkerThread {
public:
    TBaseDispatcher& Dispatcher() const { return Dispatcher_; }

    // Runs `method` with the arguments on the main thread and waits until it has run.
    void SyncCall(std::uint32_t msg, std::uint32_t triggerHandle, const NotifyProc& method,
                  std::intptr_t lParam);

protected:
    explicit TDispatcherThread(TBaseDispatcher& dispatcher) : Dispatcher_(dispatcher) {}

private:
    TBaseDispatcher& Dispatcher_;
};

// The dispatcher thread: waits on the receive queue (and, while timer or status triggers are
// armed, for at most 50 ms), runs the dispatch pass and the timer pass, and ends when the threads
// are stopped or a close is pending.
class TDispThread : public TDispatcherThread {
public:
    explicit TDispThread(TBaseDispatcher& dispatcher) : TDispatcherThread(dispatcher) {}

protected:
    void Execute() override;
};

} // namespace mbus::serial

#include "serial/dispatcher_thread.h"

#include "serial/application_errors.h"

#include <exception>

namespace mbus::serial {

void TDispatcherThread::SyncCall(std::uint32_t msg, std::uint32_t triggerHandle,
                                 const NotifyProc& method, std::intptr_t lParam) {
    Synchronize([&] { method(msg, triggerHandle, lParam); });
}

void TDispThread::Execute() {
    TBaseDispatcher& d = Dispatcher();
    d.NoteThreadStarted();
    try {
        while (!d.StopThreads.load() && !d.ClosePending.load()) {
            d.ReceiveQueue.AwaitBuffer(50);
            if (d.StopThreads.load())
                break;
            d.ServiceQueue();
            d.ServiceTimers();
        }
        d.AckEvent.Set();
    } catch (const std::exception& e) {
        ReportApplicationError(e.what());
    }
    d.FreeOnExit.store(d.ClosePending.load() || d.StopThreads.load());
    d.NoteThreadFinished(this, 0);
}

} // namespace mbus::serial

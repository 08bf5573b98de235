#include "serial/dispatcher_thread.h"

#include "serial/application_errors.h"

#include <exception>
#include <new>

namespace mbus::serial {

namespace {

// How often the pass runs while timer or status triggers are armed.
constexpr std::uint32_t kClockedPassMs = 50;

} // namespace

void TDispatcherThread::SyncCall(std::uint32_t msg, std::uint32_t triggerHandle,
                                 const NotifyProc& method, std::intptr_t lParam) {
    Synchronize([&] { method(msg, triggerHandle, lParam); });
}

void TDispThread::Execute() {
    TBaseDispatcher& d = Dispatcher();
    d.NoteThreadStarted();
    // The thread ends through NoteThreadFinished whatever happens; a failure stops the I/O threads
    // too, so the owner learns that the port is lost.
    std::int32_t result = ecOK;
    try {
        while (!d.StopThreads.load() && !d.ClosePending.load()) {
            // Nothing runs on a clock unless a timer or status trigger is armed: the pass runs
            // when the queue gets a buffer or something it evaluates changes (KickDispatcher).
            // While the input buffer is full, what is queued waits for room, so the thread
            // waits for the next change rather than for the queue to hold something.
            const std::uint32_t timeoutMs =
                d.ClockedTriggersArmed() ? kClockedPassMs : platform::INFINITE;
            if (d.InputBufferFull())
                d.ReceiveQueue.AwaitAppend(timeoutMs, d.StopThreads.Raised());
            else
                d.ReceiveQueue.AwaitBuffer(timeoutMs, d.StopThreads.Raised());
            if (d.StopThreads.load())
                break;
            d.ServiceQueue();
            d.ServiceTimers();
        }
        d.AckEvent.Set();
    } catch (const std::bad_alloc&) {
        result = ecNoMem;
    } catch (const std::exception& e) {
        ReportApplicationError(e.what());
        result = ecFailed;
    } catch (...) {
        result = ecFailed;
    }
    if (result != ecOK)
        d.StopThreads.store(true);
    d.FreeOnExit.store(d.ClosePending.load() || d.StopThreads.load());
    d.NoteThreadFinished(this, result);
}

} // namespace mbus::serial

#include "platform/posix/overlapped_record.h"

#include "platform/system_error.h"

#include <mutex>

namespace mbus::platform::posix {
namespace {

// Held while a record is completed; a reader that has seen a result passes through it, so it
// cannot hand the record back to its owner while the completing thread still sets the event.
std::mutex& CompletionLock() {
    static std::mutex lock;
    return lock;
}

} // namespace

void StartPending(Overlapped& record) {
    record.hEvent->Reset();
    record.InternalHigh.store(0, std::memory_order_relaxed);
    record.Internal.store(ERROR_IO_PENDING, std::memory_order_release);
}

void CompleteRecord(Overlapped& record, std::uint32_t error, std::uint32_t transferred) {
    std::lock_guard lock(CompletionLock());
    record.InternalHigh.store(transferred, std::memory_order_relaxed);
    record.Internal.store(error, std::memory_order_release);
    record.hEvent->Set();
}

std::uint32_t RecordResult(Overlapped& record, bool wait, std::uint32_t& transferred) {
    std::uint32_t status = record.Internal.load(std::memory_order_acquire);
    while (status == ERROR_IO_PENDING && wait) {
        WaitOne(*record.hEvent, INFINITE);
        status = record.Internal.load(std::memory_order_acquire);
    }
    if (status == ERROR_IO_PENDING)
        return status;
    { std::lock_guard lock(CompletionLock()); } // the completing thread is done with it
    transferred = record.InternalHigh.load(std::memory_order_relaxed);
    return status;
}

} // namespace mbus::platform::posix

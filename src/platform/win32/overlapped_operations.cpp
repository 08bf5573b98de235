#include "platform/win32/overlapped_operations.h"

#include "platform/system_error.h"
#include "platform/win32/event_state.h"

#include <mutex>
#include <unordered_map>

namespace mbus::platform::win32 {
namespace {

class OperationTable {
public:
    void Put(Overlapped* record, std::shared_ptr<NativeOperation> operation) {
        std::lock_guard lock(Lock_);
        Operations_[record] = std::move(operation);
    }
    std::shared_ptr<NativeOperation> Find(Overlapped* record) {
        std::lock_guard lock(Lock_);
        const auto found = Operations_.find(record);
        return found == Operations_.end() ? nullptr : found->second;
    }
    // Forgets whatever `record` had: a new operation starts with it.
    void Forget(Overlapped* record) {
        std::lock_guard lock(Lock_);
        Operations_.erase(record);
    }
    // Forgets `operation` if it is still the one of `record`.
    void Remove(Overlapped* record, const NativeOperation* operation) {
        std::lock_guard lock(Lock_);
        const auto found = Operations_.find(record);
        if (found != Operations_.end() && found->second.get() == operation)
            Operations_.erase(found);
    }
    std::vector<PendingOnDevice> On(const CommDevice& device) {
        std::lock_guard lock(Lock_);
        std::vector<PendingOnDevice> found;
        for (const auto& [record, operation] : Operations_) {
            if (operation->Device.get() == &device)
                found.push_back({record, operation});
        }
        return found;
    }

private:
    std::mutex Lock_;
    std::unordered_map<Overlapped*, std::shared_ptr<NativeOperation>>
        Operations_; // guarded by Lock_
};

// Operations that the system could not cancel, kept until it completes them.
class AbandonedOperations {
public:
    void Add(std::shared_ptr<NativeOperation> operation) {
        std::lock_guard lock(Lock_);
        std::erase_if(Operations_,
                      [](const auto& kept) { return HasOverlappedIoCompleted(&kept->Native); });
        Operations_.push_back(std::move(operation));
    }

private:
    std::mutex Lock_;
    std::vector<std::shared_ptr<NativeOperation>> Operations_; // guarded by Lock_
};

AbandonedOperations& Abandoned() {
    static AbandonedOperations& abandoned = *new AbandonedOperations;
    return abandoned;
}

OperationTable& Table() {
    static OperationTable& table = *new OperationTable; // worker threads may outlive main
    return table;
}

} // namespace

NativeOperation::~NativeOperation() {
    if (OwnEvent != nullptr)
        ::CloseHandle(OwnEvent);
}

bool UseOwnEventHandle(NativeOperation& operation) {
    const HANDLE process = ::GetCurrentProcess();
    if (!::DuplicateHandle(process, operation.Native.hEvent, process, &operation.OwnEvent, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        return false;
    operation.Native.hEvent = operation.OwnEvent;
    return true;
}

void AbandonOperation(Overlapped& record, std::shared_ptr<NativeOperation> operation,
                      std::uint32_t error) {
    Table().Remove(&record, operation.get());
    operation->CallerEvents = nullptr;
    operation->Abandoned.store(true);
    record.InternalHigh.store(0);
    record.Internal.store(error);
    record.hEvent->Set();
    Abandoned().Add(std::move(operation));
}

std::shared_ptr<NativeOperation> BeginOperation(Overlapped& record,
                                                std::shared_ptr<CommDevice> device) {
    Table().Forget(&record); // a record is reused only after its last operation completed
    auto operation = std::make_shared<NativeOperation>();
    operation->Native.hEvent = record.hEvent->Impl().Handle;
    operation->Device = std::move(device);
    record.Internal.store(ERROR_IO_PENDING);
    record.InternalHigh.store(0);
    return operation;
}

void StartedOperation(Overlapped& record, const std::shared_ptr<NativeOperation>& operation,
                      bool pending, std::uint32_t error, std::uint32_t transferred) {
    if (pending) {
        Table().Put(&record, operation);
        return;
    }
    if (error == ERROR_SUCCESS && operation->CallerEvents != nullptr)
        *operation->CallerEvents = operation->Events;
    record.InternalHigh.store(transferred);
    record.Internal.store(error);
}

std::shared_ptr<NativeOperation> PendingOperation(Overlapped& record) {
    return Table().Find(&record);
}

std::vector<PendingOnDevice> OperationsOn(const CommDevice& device) {
    return Table().On(device);
}

std::uint32_t FinishOperation(Overlapped& record, const std::shared_ptr<NativeOperation>& operation,
                              bool succeeded, std::uint32_t nativeError,
                              std::uint32_t transferred) {
    std::uint32_t error = succeeded ? ERROR_SUCCESS : nativeError;
    if (!succeeded && operation->Device->Closing.load())
        error = ERROR_INVALID_HANDLE; // ended by the close of its device
    if (succeeded && operation->CallerEvents != nullptr)
        *operation->CallerEvents = operation->Events;
    record.InternalHigh.store(transferred);
    record.Internal.store(error);
    Table().Remove(&record, operation.get());
    return error;
}

} // namespace mbus::platform::win32

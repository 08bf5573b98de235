// The open comm devices of a backend, by handle: what CreateFile gives out and every other comm
// device function looks up. For the backends only; callers of the layer see handles.
#pragma once

#include "platform/comm_device.h"
#include "platform/system_error.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace mbus::platform {

// A handle is never given out twice, so a stale one finds nothing; an operation holds its device
// while it runs, so a close on another thread cannot pull it away.
template <typename Device> class CommHandleTable {
public:
    // The backend's table. Never destroyed: a worker thread may still close its device while the
    // process ends.
    static CommHandleTable& Instance() {
        static CommHandleTable& table = *new CommHandleTable;
        return table;
    }

    CommHandle Add(std::shared_ptr<Device> device) {
        std::lock_guard lock(Lock_);
        const CommHandle handle = Next_++;
        Devices_.emplace(handle, std::move(device));
        return handle;
    }

    std::shared_ptr<Device> Find(CommHandle handle) {
        std::lock_guard lock(Lock_);
        const auto found = Devices_.find(handle);
        return found == Devices_.end() ? nullptr : found->second;
    }

    std::shared_ptr<Device> Remove(CommHandle handle) {
        std::lock_guard lock(Lock_);
        const auto found = Devices_.find(handle);
        if (found == Devices_.end())
            return nullptr;
        auto device = std::move(found->second);
        Devices_.erase(found);
        return device;
    }

    // Runs `operation` on the device of `handle`, or fails with ERROR_INVALID_HANDLE.
    template <typename Operation> bool On(CommHandle handle, Operation operation) {
        const auto device = Find(handle);
        if (!device) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        return operation(*device);
    }

private:
    CommHandleTable() = default;

    std::mutex Lock_;
    std::unordered_map<CommHandle, std::shared_ptr<Device>> Devices_; // guarded by Lock_
    CommHandle Next_ = 1; // 0 stays free: the serial component reads it as "never opened"
};

} // namespace mbus::platform

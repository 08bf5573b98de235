// The process-wide list of dispatchers. A dispatcher's registry handle is its index here;
// notification messages carry it so the port component's window procedure can find the
// dispatcher again. RegistryLock (re-entrant) guards the list and is held by the window
// procedure while it raises events.
#pragma once

#include <cstdint>
#include <mutex>

namespace mbus::serial {

class TBaseDispatcher;

void LockRegistry();
void UnlockRegistry();

// RAII holder of the registry lock.
class RegistryLockGuard {
public:
    RegistryLockGuard() { LockRegistry(); }
    ~RegistryLockGuard() { UnlockRegistry(); }
    RegistryLockGuard(const RegistryLockGuard&) = delete;
    RegistryLockGuard& operator=(const RegistryLockGuard&) = delete;
};

// Takes the first empty entry (or appends one) for `dispatcher`; returns its index.
std::int32_t RegisterDispatcher(TBaseDispatcher* dispatcher);

// Empties the entry and drops empty entries from the end of the list.
void UnregisterDispatcher(std::int32_t handle);

// The dispatcher at `handle`, or none for an index out of range or an empty entry. Call with the
// registry lock held when the result is used afterwards.
TBaseDispatcher* FindDispatcher(std::int32_t handle);

// Number of entries, empty ones included (for tests).
std::size_t RegistrySize();

} // namespace mbus::serial

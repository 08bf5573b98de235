#include "serial/dispatcher_registry.h"

#include <vector>

namespace mbus::serial {
namespace {

std::recursive_mutex& RegistryLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::vector<TBaseDispatcher*>& Registry() {
    static std::vector<TBaseDispatcher*> registry;
    return registry;
}

} // namespace

void LockRegistry() {
    RegistryLock().lock();
}

void UnlockRegistry() {
    RegistryLock().unlock();
}

std::int32_t RegisterDispatcher(TBaseDispatcher* dispatcher) {
    RegistryLockGuard guard;
    auto& registry = Registry();
    for (std::size_t i = 0; i < registry.size(); ++i) {
        if (registry[i] == nullptr) {
            registry[i] = dispatcher;
            return static_cast<std::int32_t>(i);
        }
    }
    registry.push_back(dispatcher);
    return static_cast<std::int32_t>(registry.size() - 1);
}

void UnregisterDispatcher(std::int32_t handle) {
    RegistryLockGuard guard;
    auto& registry = Registry();
    if (handle < 0 || static_cast<std::size_t>(handle) >= registry.size())
        return;
    registry[static_cast<std::size_t>(handle)] = nullptr;
    while (!registry.empty() && registry.back() == nullptr)
        registry.pop_back();
}

TBaseDispatcher* FindDispatcher(std::int32_t handle) {
    RegistryLockGuard guard;
    const auto& registry = Registry();
    if (handle < 0 || static_cast<std::size_t>(handle) >= registry.size())
        return nullptr;
    return registry[static_cast<std::size_t>(handle)];
}

std::size_t RegistrySize() {
    RegistryLockGuard guard;
    return Registry().size();
}

} // namespace mbus::serial

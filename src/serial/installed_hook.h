// A process-wide hook: a function that one part of the program installs and others call, from
// any thread. The application's error reporter and the port prompt are such hooks.
#pragma once

#include <functional>
#include <mutex>
#include <utility>

namespace mbus::serial {

template <typename Signature> class InstalledHook {
public:
    // Installs `function` (empty: none).
    void Install(std::function<Signature> function) {
        std::lock_guard<std::mutex> guard(Lock_);
        Function_ = std::move(function);
    }

    // A copy of the installed function, empty when there is none; the caller runs it without
    // the lock, so it may install another meanwhile.
    std::function<Signature> Current() const {
        std::lock_guard<std::mutex> guard(Lock_);
        return Function_;
    }

private:
    mutable std::mutex Lock_;
    std::function<Signature> Function_;
};

} // namespace mbus::serial

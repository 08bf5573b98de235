// The request that every worker thread of a dispatcher end. It reads like a flag, and raising it
// also sets a manual-reset event that each thread's waits include, so a waiting thread sees the
// request at once and no wait has to poll for it.
#pragma once

#include <atomic>

#include "platform/event.h"

namespace mbus::serial {

class StopRequest {
public:
    // true raises the request (the flag first, then the event), false withdraws it.
    void store(bool raised) {
        if (raised) {
            Flag_.store(true);
            Raised_.Set();
        } else {
            Raised_.Reset();
            Flag_.store(false);
        }
    }
    bool load() const { return Flag_.load(); }

    // Set while the request stands; for the waits of the worker threads.
    platform::Event& Raised() { return Raised_; }

private:
    std::atomic<bool> Flag_{false};
    platform::Event Raised_{true, false};
};

} // namespace mbus::serial

// Bounded waits for a condition, the only way tests wait: WaitFor polls from any thread;
// PumpUntil and PumpFor also serve the calling thread's window messages meanwhile, for tests that
// wait on notifications delivered to their own thread.
#pragma once

#include <chrono>
#include <functional>

namespace mbus::testing {

// Polls `condition` until it holds or `timeout` passes; returns its last value.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Serves this thread's messages until `condition` holds or `timeout` passes; false on time-out.
bool PumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Serves messages for `duration`, to see that nothing more arrives.
void PumpFor(std::chrono::milliseconds duration);

} // namespace mbus::testing

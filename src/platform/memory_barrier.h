// A process-wide memory barrier: when it returns, every thread of the process has passed a full
// memory barrier since it was called. It lets a hot path on one thread order its stores and loads
// with a compiler barrier alone, while the rare other side pays for the ordering.
#pragma once

namespace mbus::platform {

// True when the barrier was made; false when the system has none (nothing was done, and the
// hot path has to use ordinary atomic read-modify-writes instead).
bool FlushProcessWriteBuffers();

} // namespace mbus::platform

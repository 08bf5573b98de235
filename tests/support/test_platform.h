// What a test may need to know of the system it runs on: whether it runs under Wine, to skip
// what Wine cannot show, and the system's own view of a thread's priority.
#pragma once

namespace mbus::testing {

// Whether the program runs under Wine (as the Windows build's tests do in CI).
bool RunsUnderWine();

// The calling thread's priority as the system numbers it (a nice value on Linux, a thread
// priority on Windows), and the number the layer's "lowest" step becomes.
int SystemPriorityOfThisThread();
int SystemLowestPriority();

// Whether a message sent from another thread waits in the calling thread's queue. On Windows the
// system queues it inside SendMessageTimeout, after the layer's wake hook has run; on Linux the
// hook runs once it is queued, so this is always true there.
bool SentMessageWaiting();

} // namespace mbus::testing

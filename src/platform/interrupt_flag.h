// Ctrl+C and termination requests as a flag that a running program polls: while the object lives,
// SIGINT, SIGTERM, SIGHUP and SIGQUIT only raise the flag, so the program stops at a point of its
// choosing and undoes what it set up (an open port, a COM link registered for the run) instead of
// dying on the spot. `mbus read` and `mbus sim` hold one for their run; one at a time per process.
// The previous handling of the signals comes back when the object goes. On Windows: Ctrl+C,
// Ctrl+Break and the console window closing, and no broken-pipe signal (a write fails by itself).
#pragma once

#include <memory>

namespace mbus::platform {

class InterruptFlag {
public:
    // What writing to a pipe whose reader is gone (SIGPIPE) does meanwhile: end the program as
    // usual; fail the write only, so the program goes on (`mbus sim`, whose line outlives its
    // standard output); or fail the write and raise the flag, so the program stops and cleans up
    // (`mbus read … | head -1`).
    enum class BrokenPipe { Ends, Ignored, Stops };

    explicit InterruptFlag(BrokenPipe brokenPipe = BrokenPipe::Ends);
    ~InterruptFlag();
    InterruptFlag(const InterruptFlag&) = delete;
    InterruptFlag& operator=(const InterruptFlag&) = delete;

    // Whether one of the signals came since the object was made.
    bool Raised() const;

    // Whether, with BrokenPipe::Stops, a write to a pipe whose reader is gone raised the flag.
    bool PipeClosed() const;

private:
    struct SavedHandling; // the signals' handling before the object was made
    std::unique_ptr<SavedHandling> Saved_;
};

} // namespace mbus::platform

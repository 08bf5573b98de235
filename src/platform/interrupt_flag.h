// Ctrl+C and termination requests as a flag that a running program polls: while the object lives,
// SIGINT, SIGTERM and SIGHUP only raise the flag, so the program stops at a point of its choosing
// and undoes what it set up (an open port, a COM link registered for the run) instead of dying on
// the spot. `mbus read` and `mbus sim` hold one for their run; one at a time per process. The
// previous handling of the signals comes back when the object goes.
#pragma once

#include <memory>

namespace mbus::platform {

class InterruptFlag {
public:
    // What writing to a pipe or socket whose reader is gone does meanwhile: end the program as
    // usual, or fail the write only (a program that must remove what it set up before it ends).
    enum class BrokenPipe { Ends, Ignored };

    explicit InterruptFlag(BrokenPipe brokenPipe = BrokenPipe::Ends);
    ~InterruptFlag();
    InterruptFlag(const InterruptFlag&) = delete;
    InterruptFlag& operator=(const InterruptFlag&) = delete;

    // Whether one of the signals came since the object was made.
    bool Raised() const;

private:
    struct SavedHandling; // the signals' handling before the object was made
    std::unique_ptr<SavedHandling> Saved_;
};

} // namespace mbus::platform

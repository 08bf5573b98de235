// Ctrl+C and termination requests as a flag that a running program polls: while the object lives,
// SIGINT, SIGTERM, SIGHUP and SIGQUIT only raise the flag, so the program stops at a point of its
// choosing and undoes what it set up (an open port, a COM link registered for the run) instead of
// dying on the spot. `mbus read`, `mbus address` and `mbus sim` hold one for their run; one at a
// time per process, made on the main thread before the program starts other threads (they
// inherit how the signals are taken; threads that take no signals at all, as those of
// StandardOutputStreams, may come earlier). The previous handling of the signals comes back when
// the object goes. A write to standard output or error that the system holds does not keep the
// program from seeing the flag: StandardOutputStreams (standard_streams.h) gives such a write up
// once a request has come. On Windows: Ctrl+C, Ctrl+Break and the console window closing, and no
// broken-pipe signal (a write fails by itself).
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

    // Whether, with BrokenPipe::Stops, a write to a pipe whose reader is gone raised the flag: a
    // write of this thread, or one of StandardOutputStreams.
    bool PipeClosed() const;

    // Whether a termination request came while a flag lived, in this run of the program (it
    // stays so once it came, also after the flag has gone). Any thread may ask.
    static bool TerminationRequested();

private:
    struct State; // how the signals are taken, what came, and what to restore
    std::unique_ptr<State> State_;
};

} // namespace mbus::platform

// Ctrl+C and termination requests as a flag that a running command polls: SIGINT, SIGTERM and
// SIGHUP only set it, so the command stops at a point of its choosing and undoes what it set up
// (an open port, a COM link registered for the run) instead of dying on the spot. `mbus read`
// holds one for its run; the previous dispositions come back when the object goes.
#pragma once

#include <csignal>
#include <iterator>

namespace mbus::tools {

class InterruptFlag {
public:
    InterruptFlag();
    ~InterruptFlag();
    InterruptFlag(const InterruptFlag&) = delete;
    InterruptFlag& operator=(const InterruptFlag&) = delete;

    // Whether one of the signals came since the object was made.
    bool Raised() const { return Raised_ != 0; }

private:
    static void OnSignal(int);

    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    static inline volatile std::sig_atomic_t Raised_ = 0;
    struct sigaction Saved_[std::size(kSignals)]{};
};

} // namespace mbus::tools

#include "platform/interrupt_flag.h"

#include <cerrno>
#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace mbus::platform {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

} // namespace

// The signals are blocked and read from a signal descriptor instead of being handled
// asynchronously: nothing runs inside a signal handler, and a signal that comes at any moment
// (even before the program first checks the flag) stays pending in the kernel until it is read,
// so it cannot be missed. Threads started while the flag lives inherit the blocked mask, so the
// signal reaches the descriptor whichever thread the kernel picks.
struct InterruptFlag::State {
    sigset_t Taken{};        // the signals read from the descriptor
    sigset_t PreviousMask{}; // the calling thread's mask before the object was made
    int Descriptor = -1;
    struct sigaction PreviousBrokenPipe {};
    bool BrokenPipeIgnored = false;
    bool SignalCame = false;
    bool PipeBroke = false;

    // Takes every signal waiting on the descriptor; true when there was one.
    void Drain() {
        signalfd_siginfo info{};
        while (Descriptor >= 0 && ::read(Descriptor, &info, sizeof info) == sizeof info) {
            SignalCame = true;
            if (static_cast<int>(info.ssi_signo) == SIGPIPE)
                PipeBroke = true;
        }
    }
};

InterruptFlag::InterruptFlag(BrokenPipe brokenPipe) : State_(std::make_unique<State>()) {
    sigemptyset(&State_->Taken);
    for (const int signal : kSignals)
        sigaddset(&State_->Taken, signal);
    if (brokenPipe == BrokenPipe::Stops) {
        // The write fails with EPIPE and the signal waits on the writing thread, where the
        // flag reads it.
        sigaddset(&State_->Taken, SIGPIPE);
    } else if (brokenPipe == BrokenPipe::Ignored) {
        // The write fails with EPIPE instead of ending the program.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, &State_->PreviousBrokenPipe);
        State_->BrokenPipeIgnored = true;
    }
    ::pthread_sigmask(SIG_BLOCK, &State_->Taken, &State_->PreviousMask);
    State_->Descriptor = ::signalfd(-1, &State_->Taken, SFD_NONBLOCK | SFD_CLOEXEC);
}

InterruptFlag::~InterruptFlag() {
    // Signals that came meanwhile count as seen: they must not end the program once unblocked.
    State_->Drain();
    if (State_->Descriptor >= 0)
        ::close(State_->Descriptor);
    ::pthread_sigmask(SIG_SETMASK, &State_->PreviousMask, nullptr);
    if (State_->BrokenPipeIgnored)
        ::sigaction(SIGPIPE, &State_->PreviousBrokenPipe, nullptr);
}

bool InterruptFlag::Raised() const {
    State_->Drain();
    return State_->SignalCame;
}

bool InterruptFlag::PipeClosed() const {
    State_->Drain();
    return State_->PipeBroke;
}

} // namespace mbus::platform

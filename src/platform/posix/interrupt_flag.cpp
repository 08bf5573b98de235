#include "platform/interrupt_flag.h"

#include "platform/standard_streams.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <sys/signalfd.h>
#include <unistd.h>

namespace mbus::platform {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The live flag's signal descriptor, and what has been read from it over the program's run. One
// thread at a time reads the descriptor, so the flag's own thread and a thread asking
// TerminationRequested (a waiting write) each see every signal counted.
std::mutex DescriptorLock;
int LiveDescriptor = -1; // guarded by DescriptorLock
std::atomic<std::uint32_t> TerminationsRead{0};
std::atomic<std::uint32_t> BrokenPipesRead{0};

// Takes every signal waiting on the live flag's descriptor. A signal directed at a thread
// (SIGPIPE after that thread's write) is seen only when that thread reads.
void DrainSignals() {
    const std::lock_guard lock(DescriptorLock);
    signalfd_siginfo info{};
    while (LiveDescriptor >= 0 && ::read(LiveDescriptor, &info, sizeof info) == sizeof info) {
        if (static_cast<int>(info.ssi_signo) == SIGPIPE)
            ++BrokenPipesRead;
        else
            ++TerminationsRead;
    }
}

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
    bool StopsOnBrokenPipe = false;
    std::uint32_t TerminationsBefore = 0; // the counts when the object was made
    std::uint32_t BrokenPipesBefore = 0;
};

InterruptFlag::InterruptFlag(BrokenPipe brokenPipe) : State_(std::make_unique<State>()) {
    sigemptyset(&State_->Taken);
    for (const int signal : kSignals)
        sigaddset(&State_->Taken, signal);
    if (brokenPipe == BrokenPipe::Stops) {
        // The write fails with EPIPE and the signal waits on the writing thread, where the
        // flag reads it.
        sigaddset(&State_->Taken, SIGPIPE);
        State_->StopsOnBrokenPipe = true;
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
    const std::lock_guard lock(DescriptorLock);
    LiveDescriptor = State_->Descriptor;
    State_->TerminationsBefore = TerminationsRead.load();
    State_->BrokenPipesBefore = BrokenPipesRead.load();
}

InterruptFlag::~InterruptFlag() {
    // Signals that came meanwhile count as seen: they must not end the program once unblocked.
    DrainSignals();
    {
        const std::lock_guard lock(DescriptorLock);
        LiveDescriptor = -1;
    }
    if (State_->Descriptor >= 0)
        ::close(State_->Descriptor);
    ::pthread_sigmask(SIG_SETMASK, &State_->PreviousMask, nullptr);
    if (State_->BrokenPipeIgnored)
        ::sigaction(SIGPIPE, &State_->PreviousBrokenPipe, nullptr);
}

bool InterruptFlag::Raised() const {
    DrainSignals();
    return TerminationsRead.load() != State_->TerminationsBefore || PipeClosed();
}

bool InterruptFlag::PipeClosed() const {
    DrainSignals();
    return State_->StopsOnBrokenPipe &&
           (BrokenPipesRead.load() != State_->BrokenPipesBefore || StandardOutputReaderGone());
}

bool InterruptFlag::TerminationRequested() {
    DrainSignals();
    return TerminationsRead.load() != 0;
}

} // namespace mbus::platform

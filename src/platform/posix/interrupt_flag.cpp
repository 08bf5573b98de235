#include "platform/interrupt_flag.h"

#include <csignal>
#include <iterator>

namespace mbus::platform {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile std::sig_atomic_t SignalCame = 0;
volatile std::sig_atomic_t PipeBroke = 0;

void OnSignal(int) {
    SignalCame = 1;
}

void OnBrokenPipe(int) {
    PipeBroke = 1;
    SignalCame = 1;
}

} // namespace

struct InterruptFlag::SavedHandling {
    struct sigaction Signals[std::size(kSignals)]{};
    struct sigaction BrokenPipe {};
    bool BrokenPipeChanged = false;
};

InterruptFlag::InterruptFlag(BrokenPipe brokenPipe) : Saved_(std::make_unique<SavedHandling>()) {
    SignalCame = 0;
    PipeBroke = 0;
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &Saved_->Signals[i]);
    if (brokenPipe != BrokenPipe::Ends) {
        // Either way the write fails with EPIPE instead of ending the program.
        struct sigaction pipe {};
        pipe.sa_handler = brokenPipe == BrokenPipe::Stops ? &OnBrokenPipe : SIG_IGN;
        sigemptyset(&pipe.sa_mask);
        ::sigaction(SIGPIPE, &pipe, &Saved_->BrokenPipe);
        Saved_->BrokenPipeChanged = true;
    }
}

InterruptFlag::~InterruptFlag() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &Saved_->Signals[i], nullptr);
    if (Saved_->BrokenPipeChanged)
        ::sigaction(SIGPIPE, &Saved_->BrokenPipe, nullptr);
}

bool InterruptFlag::Raised() const {
    return SignalCame != 0;
}

bool InterruptFlag::PipeClosed() const {
    return PipeBroke != 0;
}

} // namespace mbus::platform

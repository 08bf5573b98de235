#include "platform/interrupt_flag.h"

#include <csignal>
#include <iterator>

namespace mbus::platform {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile std::sig_atomic_t SignalCame = 0;

void OnSignal(int) {
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
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &Saved_->Signals[i]);
    if (brokenPipe == BrokenPipe::Ignored) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &ignore, &Saved_->BrokenPipe);
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

} // namespace mbus::platform

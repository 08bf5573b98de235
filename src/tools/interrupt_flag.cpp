#include "tools/interrupt_flag.h"

namespace mbus::tools {

InterruptFlag::InterruptFlag() {
    Raised_ = 0;
    struct sigaction action {};
    action.sa_handler = &InterruptFlag::OnSignal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &Saved_[i]);
}

InterruptFlag::~InterruptFlag() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &Saved_[i], nullptr);
}

void InterruptFlag::OnSignal(int) {
    Raised_ = 1;
}

} // namespace mbus::tools

#include "platform/interrupt_flag.h"

#include "platform/standard_streams.h"
#include "platform/win32/windows_api.h"

#include <atomic>
#include <cstdint>

namespace mbus::platform {
namespace {

std::atomic<std::uint32_t> RequestsCame{0}; // over the program's run

// Ctrl+C, Ctrl+Break and the console window closing only raise the flag. The system runs the
// handler on a thread of its own; a handled close gives the program a few seconds to end.
BOOL WINAPI OnConsoleRequest(DWORD request) {
    switch (request) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        ++RequestsCame;
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

// Windows has no broken-pipe signal: a write to a pipe whose reader went fails by itself, and
// StandardOutputStreams tells when it was one of standard output or error.
struct InterruptFlag::State {
    bool StopsOnBrokenPipe = false;
    std::uint32_t RequestsBefore = 0; // the count when the object was made
};

InterruptFlag::InterruptFlag(BrokenPipe brokenPipe) : State_(std::make_unique<State>()) {
    State_->StopsOnBrokenPipe = brokenPipe == BrokenPipe::Stops;
    State_->RequestsBefore = RequestsCame.load();
    ::SetConsoleCtrlHandler(&OnConsoleRequest, TRUE);
}

InterruptFlag::~InterruptFlag() {
    ::SetConsoleCtrlHandler(&OnConsoleRequest, FALSE);
}

bool InterruptFlag::Raised() const {
    return RequestsCame.load() != State_->RequestsBefore || PipeClosed();
}

bool InterruptFlag::PipeClosed() const {
    return State_->StopsOnBrokenPipe && StandardOutputReaderGone();
}

bool InterruptFlag::TerminationRequested() {
    return RequestsCame.load() != 0;
}

} // namespace mbus::platform

#include "platform/interrupt_flag.h"

#include "platform/win32/windows_api.h"

#include <atomic>

namespace mbus::platform {
namespace {

std::atomic<bool> RequestCame{false};

// Ctrl+C, Ctrl+Break and the console window closing only raise the flag. The system runs the
// handler on a thread of its own; a handled close gives the program a few seconds to end.
BOOL WINAPI OnConsoleRequest(DWORD request) {
    switch (request) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        RequestCame.store(true);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

// Windows has no broken-pipe signal: a write to a pipe whose reader went fails by itself.
struct InterruptFlag::State {};

InterruptFlag::InterruptFlag(BrokenPipe /*brokenPipe*/) : State_(std::make_unique<State>()) {
    RequestCame.store(false);
    ::SetConsoleCtrlHandler(&OnConsoleRequest, TRUE);
}

InterruptFlag::~InterruptFlag() {
    ::SetConsoleCtrlHandler(&OnConsoleRequest, FALSE);
}

bool InterruptFlag::Raised() const {
    return RequestCame.load();
}

bool InterruptFlag::PipeClosed() const {
    return false; // no signal tells it: the failed write is all there is
}

} // namespace mbus::platform

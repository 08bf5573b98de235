// Window messages between threads: hidden message windows owned by the thread that made them,
// posted messages, blocking sends with a time-out, and serving the calling thread's queue one
// message at a time. On Linux every thread that makes a window gets a message queue; the GUI
// thread hands its queue to the Qt event loop through two hooks (InstallGuiHooks).
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

namespace mbus::platform {

using WindowHandle = std::uint32_t; // 0 is no window

using WindowProc = std::function<std::intptr_t(WindowHandle window, std::uint32_t msg,
                                               std::uintptr_t wParam, std::intptr_t lParam)>;

inline constexpr std::uint32_t WM_QUIT = 0x0012;
inline constexpr std::uint32_t SMTO_BLOCK = 0x0001;

// Makes a hidden window owned by the calling thread; its messages are handed to `proc` on that
// thread. Returns 0 when `proc` is empty.
WindowHandle CreateMessageWindow(WindowProc proc);

// Destroys a window of the calling thread; its queued posted messages are dropped and pending
// sends to it fail. False for an unknown window or one of another thread.
bool DestroyMessageWindow(WindowHandle window);

bool IsWindow(WindowHandle window);

// Queues a message for the window's owner thread and returns at once. False for an unknown window.
bool PostMessage(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                 std::intptr_t lParam);

// Sends a message and waits until the owner thread has handled it or `timeoutMs` has passed.
// With SMTO_BLOCK the caller serves no messages of its own meanwhile (on Linux it never does,
// whatever the flags). A send to a window of the
// calling thread calls its procedure directly. Returns true and the procedure's result when it
// was handled in time; false with last error ERROR_TIMEOUT (timed out) or
// ERROR_INVALID_HANDLE (no such window, or destroyed meanwhile). A timed-out message that the
// owner has not started is withdrawn.
bool SendMessageTimeout(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                        std::intptr_t lParam, std::uint32_t flags, std::uint32_t timeoutMs,
                        std::intptr_t* result);

// Serves the calling thread's queue once: every sent message waiting for it, then at most one
// posted message (a quit message is posted again instead, so the loop that owns the thread still
// sees it). On the GUI thread with hooks installed it also lets the GUI process its pending
// events once. Returns whether a message was served.
bool PumpOneMessage();

// Serves every message waiting for the calling thread (sent and posted, quit excepted).
void DrainMessages();

// Blocks until a message arrives for the calling thread or the time-out passes; true when one is
// waiting.
bool WaitForMessage(std::uint32_t timeoutMs);

// Posts a quit message to the calling thread's queue.
void PostQuitMessage(int exitCode);

// Serves the calling thread's messages until a quit message; returns its exit code.
int RunMessageLoop();

// Runs `call` on the main thread and waits for it (directly when already there). The main thread
// serves such calls as it serves sent messages.
void RunOnMainThread(const std::function<void()>& call);

// How the GUI thread's event loop takes part: `Wake` is called from any thread when a message
// arrives for `guiThread` (it should make the GUI thread call DrainMessages soon, also inside
// modal dialogs); `Pump` is called by PumpOneMessage on the GUI thread to let the GUI process its
// pending events once (timers among them). Empty hooks uninstall.
struct GuiHooks {
    std::function<void()> Wake;
    std::function<void()> Pump;
};
void InstallGuiHooks(std::thread::id guiThread, GuiHooks hooks);

} // namespace mbus::platform

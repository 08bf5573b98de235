#include "platform/message_window.h"

#include "platform/event.h"
#include "platform/system_error.h"
#include "platform/win32/windows_api.h"
#include "platform/worker_thread.h"

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace mbus::platform {
namespace {

constexpr wchar_t kWindowClass[] = L"MbusMessageWindow";

HWND NativeWindow(WindowHandle window) {
    // Window handles carry 32 significant bits and are sign-extended on 64-bit systems.
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<std::int32_t>(window)));
}

WindowHandle HandleOf(HWND window) {
    return static_cast<WindowHandle>(reinterpret_cast<ULONG_PTR>(window));
}

// The procedures of the windows this layer made, by window. An entry goes when the system
// destroys its window (WM_NCDESTROY), also when the owner thread ends.
class WindowProcedures {
public:
    void Add(HWND window, WindowProc proc) {
        std::lock_guard lock(Lock_);
        Procedures_[window] = std::make_shared<WindowProc>(std::move(proc));
    }
    std::shared_ptr<WindowProc> Find(HWND window) {
        std::lock_guard lock(Lock_);
        const auto found = Procedures_.find(window);
        return found == Procedures_.end() ? nullptr : found->second;
    }
    void Remove(HWND window) {
        std::lock_guard lock(Lock_);
        Procedures_.erase(window);
    }

private:
    std::mutex Lock_;
    std::unordered_map<HWND, std::shared_ptr<WindowProc>> Procedures_; // guarded by Lock_
};

WindowProcedures& Procedures() {
    static WindowProcedures& procedures = *new WindowProcedures; // outlives every thread
    return procedures;
}

// An exception that escaped a window procedure: it cannot cross the system's dispatch code, so
// it is kept here and rethrown on the same thread when the pumping call returns.
thread_local std::exception_ptr EscapedException;

void RethrowEscapedException() {
    if (EscapedException)
        std::rethrow_exception(std::exchange(EscapedException, nullptr));
}

LRESULT CALLBACK DispatchToProcedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCDESTROY)
        Procedures().Remove(window);
    const std::shared_ptr<WindowProc> proc = Procedures().Find(window);
    if (!proc)
        return ::DefWindowProcW(window, msg, wParam, lParam);
    try {
        return (*proc)(HandleOf(window), msg, wParam, lParam);
    } catch (...) {
        EscapedException = std::current_exception();
        return 0;
    }
}

bool RegisterWindowClass() {
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &DispatchToProcedure;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kWindowClass;
        return ::RegisterClassExW(&windowClass) != 0 ||
               ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

// The GUI thread's hooks (message_window.h); its system thread id, 0 without hooks.
struct GuiState {
    std::mutex Lock;
    DWORD Thread = 0; // guarded by Lock
    GuiHooks Hooks;   // guarded by Lock
};

GuiState& Gui() {
    static GuiState& gui = *new GuiState;
    return gui;
}

// Tells the GUI thread that a message is on its way to `thread`.
void WakeGuiFor(DWORD thread) {
    std::function<void()> wake;
    {
        std::lock_guard lock(Gui().Lock);
        if (Gui().Thread == 0 || Gui().Thread != thread)
            return;
        wake = Gui().Hooks.Wake;
    }
    if (wake)
        wake();
}

DWORD OwnerThread(HWND window) {
    return ::GetWindowThreadProcessId(window, nullptr);
}

// A call that RunOnMainThread hands to the main thread's call window.
struct MainThreadCall {
    const std::function<void()>* Call;
    std::exception_ptr Error;
};

constexpr UINT kRunCall = WM_APP + 1;

// The main thread's call window, made during static initialisation, which runs on the main
// thread. Making it there also loads the window system at start-up rather than in the middle
// of the program's serial I/O.
const HWND kMainCallWindow = [] {
    if (!RegisterWindowClass())
        return HWND{};
    const HWND window = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (window != nullptr) {
        Procedures().Add(window,
                         [](WindowHandle, std::uint32_t msg, std::uintptr_t,
                            std::intptr_t lParam) -> std::intptr_t {
                             if (msg != kRunCall)
                                 return 0;
                             auto* call = reinterpret_cast<MainThreadCall*>(lParam);
                             try {
                                 (*call->Call)();
                             } catch (...) {
                                 call->Error = std::current_exception();
                             }
                             return 0;
                         });
    }
    return window;
}();

// The thread message that marks where DrainMessages began.
UINT DrainMark() {
    static const UINT mark = ::RegisterWindowMessageW(L"MbusMessageWindow.DrainMark");
    return mark;
}

bool IsDrainMark(const MSG& msg, WPARAM token) {
    return msg.hwnd == nullptr && msg.message == DrainMark() && msg.wParam == token;
}

} // namespace

WindowHandle CreateMessageWindow(WindowProc proc) {
    if (!proc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!RegisterWindowClass())
        return 0;
    const HWND window = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr)
        return 0;
    Procedures().Add(window, std::move(proc));
    return HandleOf(window);
}

bool DestroyMessageWindow(WindowHandle window) {
    const HWND native = NativeWindow(window);
    if (window == 0 || !::IsWindow(native))
        return FailWith(ERROR_INVALID_HANDLE);
    if (OwnerThread(native) != ::GetCurrentThreadId())
        return FailWith(ERROR_ACCESS_DENIED);
    // The system drops the window's posted messages and fails the sends waiting for it.
    return ::DestroyWindow(native) != FALSE;
}

bool IsWindow(WindowHandle window) {
    return window != 0 && ::IsWindow(NativeWindow(window)) != FALSE;
}

bool PostMessage(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                 std::intptr_t lParam) {
    const HWND native = NativeWindow(window);
    if (window == 0 || !::PostMessageW(native, msg, wParam, lParam))
        return FailWith(ERROR_INVALID_HANDLE);
    WakeGuiFor(OwnerThread(native));
    return true;
}

bool SendMessageTimeout(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                        std::intptr_t lParam, std::uint32_t flags, std::uint32_t timeoutMs,
                        std::intptr_t* result) {
    const HWND native = NativeWindow(window);
    if (window == 0 || !::IsWindow(native))
        return FailWith(ERROR_INVALID_HANDLE);
    const DWORD owner = OwnerThread(native);
    const bool local = owner == ::GetCurrentThreadId();
    if (!local)
        WakeGuiFor(owner); // the system queues the message inside the call below
    DWORD_PTR answer = 0;
    const bool handled =
        ::SendMessageTimeoutW(native, msg, wParam, lParam, flags, timeoutMs, &answer) != 0;
    if (local)
        RethrowEscapedException();
    if (!handled) {
        // A time-out stays one while the window lives; any other failure means the window went
        // (the system reports a destroyed window with 1400 or, while the send waited, 5).
        const DWORD error = ::GetLastError();
        SetLastError(error == ERROR_TIMEOUT && ::IsWindow(native) ? ERROR_TIMEOUT
                                                                  : ERROR_INVALID_HANDLE);
        return false;
    }
    if (result != nullptr)
        *result = static_cast<std::intptr_t>(answer);
    return true;
}

bool PumpOneMessage() {
    // PeekMessage serves every sent message waiting before it looks at the posted ones.
    bool served = (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
    MSG msg{};
    if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam)); // for the loop that owns the thread
        } else {
            ::DispatchMessageW(&msg);
            served = true;
        }
    }
    RethrowEscapedException();

    std::function<void()> pump;
    {
        std::lock_guard lock(Gui().Lock);
        if (Gui().Thread != 0 && Gui().Thread == ::GetCurrentThreadId())
            pump = Gui().Hooks.Pump;
    }
    if (pump)
        pump();
    return served;
}

void DrainMessages() {
    // Serves up to a mark posted now, so messages that handlers post meanwhile wait.
    static std::atomic<WPARAM> nextToken{1};
    const WPARAM token = nextToken.fetch_add(1);
    const bool marked = ::PostThreadMessageW(::GetCurrentThreadId(), DrainMark(), token, 0);
    MSG msg{};
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (marked && IsDrainMark(msg, token))
            break;
        ::DispatchMessageW(&msg);
        RethrowEscapedException();
    }
    RethrowEscapedException();
}

bool WaitForMessage(std::uint32_t timeoutMs) {
    return ::MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
           WAIT_OBJECT_0;
}

void PostQuitMessage(int exitCode) {
    ::PostQuitMessage(exitCode);
}

int RunMessageLoop() {
    MSG msg{};
    for (;;) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(msg.wParam);
        if (got == -1)
            return -1;
        ::DispatchMessageW(&msg);
        RethrowEscapedException();
    }
}

void RunOnMainThread(const std::function<void()>& call) {
    if (IsMainThread()) {
        call();
        return;
    }
    MainThreadCall request{&call, nullptr};
    WakeGuiFor(OwnerThread(kMainCallWindow));
    ::SendMessageW(kMainCallWindow, kRunCall, 0, reinterpret_cast<LPARAM>(&request));
    if (request.Error)
        std::rethrow_exception(request.Error);
}

void InstallGuiHooks(std::thread::id guiThread, GuiHooks hooks) {
    // The hooks are installed from the GUI thread itself, whose system id is known here.
    std::lock_guard lock(Gui().Lock);
    const bool uninstall = !hooks.Wake && !hooks.Pump;
    Gui().Thread =
        uninstall || guiThread != std::this_thread::get_id() ? 0 : ::GetCurrentThreadId();
    Gui().Hooks = std::move(hooks);
}

} // namespace mbus::platform

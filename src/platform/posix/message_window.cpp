#include "platform/message_window.h"

#include "platform/system_error.h"
#include "platform/worker_thread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace mbus::platform {
namespace {

// A message sent to another thread, or a call to run on the main thread. The sender waits on
// `Finished` (with the owner queue's lock) until the owner has handled it.
struct SentMessage {
    enum class Stage { Queued, Running, Done, Failed };

    WindowHandle Window = 0;
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    const std::function<void()>* Call = nullptr; // RunOnMainThread; the caller keeps it alive

    Stage State = Stage::Queued; // guarded by the owner queue's lock
    std::intptr_t Result = 0;
    std::exception_ptr Error;
    std::condition_variable Finished;
};

struct PostedMessage {
    WindowHandle Window;
    std::uint32_t Msg;
    std::uintptr_t WParam;
    std::intptr_t LParam;
};

// The message queue of one thread. `Lock` guards every field but `Owner`, which never changes.
struct MessageQueue {
    explicit MessageQueue(std::thread::id owner) : Owner(owner) {}

    const std::thread::id Owner;
    std::mutex Lock;
    std::condition_variable Arrived;
    std::deque<PostedMessage> Posted;
    std::deque<std::shared_ptr<SentMessage>> Sent;
    bool QuitPending = false;
    int QuitCode = 0;
    bool Retired = false; // the owner thread has ended
};

struct WindowRecord {
    std::shared_ptr<MessageQueue> Queue;
    std::shared_ptr<const WindowProc> Proc;
};

// Every window, the main thread's queue and the GUI hooks. `Lock` is taken before a queue's lock,
// never after it.
struct WindowTable {
    std::mutex Lock;
    std::unordered_map<WindowHandle, WindowRecord> Windows;
    WindowHandle NextHandle = 1;
    std::shared_ptr<MessageQueue> MainQueue;
    std::thread::id GuiThread;
    std::shared_ptr<const GuiHooks> Hooks;
};

// Never destroyed: threads that outlive main() may still post or send while the process ends.
WindowTable& Table() {
    static WindowTable& table = *new WindowTable;
    return table;
}

void Retire(const std::shared_ptr<MessageQueue>& queue);

// A worker thread's queue, made on first use and retired when the thread ends: its windows are
// destroyed and senders still waiting for it fail.
struct ThreadQueueHolder {
    std::shared_ptr<MessageQueue> Queue;
    ~ThreadQueueHolder() {
        if (Queue)
            Retire(Queue);
    }
};
thread_local ThreadQueueHolder tThreadQueue;

std::shared_ptr<MessageQueue> MainQueue() {
    WindowTable& table = Table();
    std::lock_guard lock(table.Lock);
    if (!table.MainQueue)
        table.MainQueue = std::make_shared<MessageQueue>(MainThreadId());
    return table.MainQueue;
}

std::shared_ptr<MessageQueue> CallingThreadQueue() {
    if (IsMainThread())
        return MainQueue();
    if (!tThreadQueue.Queue)
        tThreadQueue.Queue = std::make_shared<MessageQueue>(std::this_thread::get_id());
    return tThreadQueue.Queue;
}

// The hooks to call for something that arrived in `queue` (table lock held), or none.
std::shared_ptr<const GuiHooks> HooksForLocked(const WindowTable& table,
                                               const MessageQueue& queue) {
    if (table.Hooks && queue.Owner == table.GuiThread)
        return table.Hooks;
    return nullptr;
}

std::shared_ptr<const GuiHooks> HooksFor(const MessageQueue& queue) {
    WindowTable& table = Table();
    std::lock_guard lock(table.Lock);
    return HooksForLocked(table, queue);
}

void Wake(const std::shared_ptr<const GuiHooks>& hooks) {
    if (hooks && hooks->Wake)
        hooks->Wake();
}

void Retire(const std::shared_ptr<MessageQueue>& queue) {
    {
        WindowTable& table = Table();
        std::lock_guard lock(table.Lock);
        std::erase_if(table.Windows,
                      [&](const auto& entry) { return entry.second.Queue == queue; });
    }
    std::lock_guard lock(queue->Lock);
    queue->Retired = true;
    queue->Posted.clear();
    for (const auto& message : queue->Sent) {
        message->State = SentMessage::Stage::Failed;
        message->Finished.notify_all();
    }
    queue->Sent.clear();
}

// Where messages for `window` go: its owner's queue, its procedure and the GUI hooks of that
// queue; none (last error ERROR_INVALID_HANDLE) for an unknown window.
struct WindowTarget {
    std::shared_ptr<MessageQueue> Queue;
    std::shared_ptr<const WindowProc> Proc;
    std::shared_ptr<const GuiHooks> Hooks;
};
std::optional<WindowTarget> TargetOf(WindowHandle window) {
    WindowTable& table = Table();
    std::lock_guard lock(table.Lock);
    const auto found = table.Windows.find(window);
    if (found == table.Windows.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return std::nullopt;
    }
    return WindowTarget{found->second.Queue, found->second.Proc,
                        HooksForLocked(table, *found->second.Queue)};
}

// The procedure of `window` if it still belongs to `queue`.
std::shared_ptr<const WindowProc> ProcOf(WindowHandle window, const MessageQueue& queue) {
    WindowTable& table = Table();
    std::lock_guard lock(table.Lock);
    const auto found = table.Windows.find(window);
    if (found == table.Windows.end() || found->second.Queue.get() != &queue)
        return nullptr;
    return found->second.Proc;
}

// Hands a sent message to its handler on the owner thread and reports the outcome to the
// sender, also when the window procedure throws (the exception then goes on in the owner).
void HandleSent(MessageQueue& queue, SentMessage& message) {
    auto stage = SentMessage::Stage::Done;
    std::intptr_t result = 0;
    std::exception_ptr error;
    struct Report {
        MessageQueue& Queue;
        SentMessage& Message;
        SentMessage::Stage& Stage;
        std::intptr_t& Result;
        std::exception_ptr& Error;
        ~Report() {
            std::lock_guard lock(Queue.Lock);
            Message.State = Stage;
            Message.Result = Result;
            Message.Error = Error;
            Message.Finished.notify_all();
        }
    } report{queue, message, stage, result, error};

    if (message.Call) {
        try {
            (*message.Call)();
        } catch (...) {
            error = std::current_exception(); // rethrown in the calling thread
        }
        return;
    }
    const auto proc = ProcOf(message.Window, queue);
    if (!proc) {
        stage = SentMessage::Stage::Failed;
        return;
    }
    result = (*proc)(message.Window, message.Msg, message.WParam, message.LParam);
}

bool ServeSentMessages(MessageQueue& queue) {
    bool served = false;
    for (;;) {
        std::shared_ptr<SentMessage> message;
        {
            std::lock_guard lock(queue.Lock);
            if (queue.Sent.empty())
                return served;
            message = std::move(queue.Sent.front());
            queue.Sent.pop_front();
            message->State = SentMessage::Stage::Running;
        }
        served = true;
        HandleSent(queue, *message);
    }
}

bool ServeOnePosted(MessageQueue& queue) {
    PostedMessage message;
    {
        std::lock_guard lock(queue.Lock);
        if (queue.Posted.empty())
            return false;
        message = queue.Posted.front();
        queue.Posted.pop_front();
    }
    if (const auto proc = ProcOf(message.Window, queue))
        (*proc)(message.Window, message.Msg, message.WParam, message.LParam);
    return true;
}

// Queues `message` for `queue`'s owner and waits until it is handled or `deadline` (none: no
// limit) passes. Returns the stage it reached; a message still queued at the deadline is
// withdrawn.
SentMessage::Stage SendAndWait(const std::shared_ptr<MessageQueue>& queue,
                               const std::shared_ptr<SentMessage>& message,
                               std::optional<std::chrono::steady_clock::time_point> deadline) {
    {
        std::lock_guard lock(queue->Lock);
        if (queue->Retired)
            return SentMessage::Stage::Failed;
        queue->Sent.push_back(message);
    }
    queue->Arrived.notify_all();
    Wake(HooksFor(*queue));

    std::unique_lock lock(queue->Lock);
    const auto finished = [&] {
        return message->State == SentMessage::Stage::Done ||
               message->State == SentMessage::Stage::Failed;
    };
    if (!deadline) {
        message->Finished.wait(lock, finished);
    } else if (!message->Finished.wait_until(lock, *deadline, finished) &&
               message->State == SentMessage::Stage::Queued) {
        std::erase(queue->Sent, message);
    }
    return message->State;
}

} // namespace

WindowHandle CreateMessageWindow(WindowProc proc) {
    if (!proc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto queue = CallingThreadQueue();
    WindowTable& table = Table();
    std::lock_guard lock(table.Lock);
    WindowHandle handle = table.NextHandle;
    while (handle == 0 || table.Windows.count(handle) != 0)
        ++handle;
    table.NextHandle = handle + 1;
    table.Windows.emplace(handle, WindowRecord{std::move(queue), std::make_shared<const WindowProc>(
                                                                     std::move(proc))});
    return handle;
}

bool DestroyMessageWindow(WindowHandle window) {
    std::shared_ptr<MessageQueue> queue;
    {
        WindowTable& table = Table();
        std::lock_guard lock(table.Lock);
        const auto found = table.Windows.find(window);
        if (found == table.Windows.end())
            return FailWith(ERROR_INVALID_HANDLE);
        if (found->second.Queue->Owner != std::this_thread::get_id())
            return FailWith(ERROR_ACCESS_DENIED);
        queue = found->second.Queue;
        table.Windows.erase(found);
    }
    std::lock_guard lock(queue->Lock);
    std::erase_if(queue->Posted, [&](const PostedMessage& m) { return m.Window == window; });
    std::erase_if(queue->Sent, [&](const std::shared_ptr<SentMessage>& m) {
        if (m->Call || m->Window != window)
            return false;
        m->State = SentMessage::Stage::Failed;
        m->Finished.notify_all();
        return true;
    });
    return true;
}

bool IsWindow(WindowHandle window) {
    WindowTable& table = Table();
    std::lock_guard lock(table.Lock);
    return table.Windows.count(window) != 0;
}

bool PostMessage(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                 std::intptr_t lParam) {
    const std::optional<WindowTarget> target = TargetOf(window);
    if (!target)
        return false;
    const std::shared_ptr<MessageQueue>& queue = target->Queue;
    const std::shared_ptr<const GuiHooks>& hooks = target->Hooks;
    {
        std::lock_guard lock(queue->Lock);
        if (queue->Retired)
            return FailWith(ERROR_INVALID_HANDLE);
        if (msg == WM_QUIT) {
            queue->QuitPending = true;
            queue->QuitCode = static_cast<int>(wParam);
        } else {
            queue->Posted.push_back({window, msg, wParam, lParam});
        }
    }
    queue->Arrived.notify_all();
    Wake(hooks);
    return true;
}

bool SendMessageTimeout(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                        std::intptr_t lParam, std::uint32_t /*flags*/, std::uint32_t timeoutMs,
                        std::intptr_t* result) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::optional<WindowTarget> target = TargetOf(window);
    if (!target)
        return false;
    const std::shared_ptr<MessageQueue>& queue = target->Queue;
    const std::shared_ptr<const WindowProc>& proc = target->Proc;
    if (queue->Owner == std::this_thread::get_id()) {
        const std::intptr_t value = (*proc)(window, msg, wParam, lParam);
        if (result)
            *result = value;
        return true;
    }

    auto message = std::make_shared<SentMessage>();
    message->Window = window;
    message->Msg = msg;
    message->WParam = wParam;
    message->LParam = lParam;
    switch (SendAndWait(queue, message, deadline)) {
    case SentMessage::Stage::Done:
        if (result)
            *result = message->Result;
        return true;
    case SentMessage::Stage::Failed:
        return FailWith(ERROR_INVALID_HANDLE);
    case SentMessage::Stage::Queued:
    case SentMessage::Stage::Running:
        break;
    }
    return FailWith(ERROR_TIMEOUT);
}

bool PumpOneMessage() {
    const auto queue = CallingThreadQueue();
    bool served = ServeSentMessages(*queue);
    served = ServeOnePosted(*queue) || served;
    if (const auto hooks = HooksFor(*queue); hooks && hooks->Pump)
        hooks->Pump();
    return served;
}

void DrainMessages() {
    const auto queue = CallingThreadQueue();
    std::size_t posted = 0;
    {
        std::lock_guard lock(queue->Lock);
        posted = queue->Posted.size();
    }
    // Only the posted messages present now: a handler that posts again does not keep us here.
    ServeSentMessages(*queue);
    for (; posted > 0 && ServeOnePosted(*queue); --posted)
        ServeSentMessages(*queue);
}

bool WaitForMessage(std::uint32_t timeoutMs) {
    const auto queue = CallingThreadQueue();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(queue->Lock);
    return queue->Arrived.wait_until(lock, deadline, [&] {
        return !queue->Sent.empty() || !queue->Posted.empty() || queue->QuitPending;
    });
}

void PostQuitMessage(int exitCode) {
    const auto queue = CallingThreadQueue();
    {
        std::lock_guard lock(queue->Lock);
        queue->QuitPending = true;
        queue->QuitCode = exitCode;
    }
    queue->Arrived.notify_all();
}

int RunMessageLoop() {
    const auto queue = CallingThreadQueue();
    for (;;) {
        ServeSentMessages(*queue);
        if (ServeOnePosted(*queue))
            continue;
        std::unique_lock lock(queue->Lock);
        if (!queue->Sent.empty() || !queue->Posted.empty())
            continue;
        if (queue->QuitPending) {
            queue->QuitPending = false;
            return queue->QuitCode;
        }
        queue->Arrived.wait(lock);
    }
}

void RunOnMainThread(const std::function<void()>& call) {
    if (IsMainThread()) {
        call();
        return;
    }
    auto message = std::make_shared<SentMessage>();
    message->Call = &call;
    SendAndWait(MainQueue(), message, std::nullopt);
    if (message->Error)
        std::rethrow_exception(message->Error);
}

void InstallGuiHooks(std::thread::id guiThread, GuiHooks hooks) {
    WindowTable& table = Table();
    std::lock_guard lock(table.Lock);
    if (!hooks.Wake && !hooks.Pump) {
        table.Hooks = nullptr;
        return;
    }
    table.GuiThread = guiThread;
    table.Hooks = std::make_shared<const GuiHooks>(std::move(hooks));
}

} // namespace mbus::platform

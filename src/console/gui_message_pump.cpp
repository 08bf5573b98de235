#include "console/gui_message_pump.h"

#include "platform/message_window.h"

#include <QCoreApplication>

#include <atomic>
#include <memory>
#include <thread>

namespace mbus::console {
namespace {

// Shared with the hooks, which another thread may still be running while the pump goes away.
struct WakeState {
    // A drain is queued and has not started yet: further wakes need no call of their own.
    std::atomic<bool> DrainQueued{false};
};

} // namespace

GuiMessagePump::GuiMessagePump(QCoreApplication& application) {
    auto state = std::make_shared<WakeState>();
    platform::GuiHooks hooks;
    hooks.Wake = [state, application = &application] {
        if (state->DrainQueued.exchange(true))
            return;
        QMetaObject::invokeMethod(
            application,
            [state] {
                state->DrainQueued = false;
                platform::DrainMessages();
            },
            Qt::QueuedConnection);
    };
    hooks.Pump = [] { QCoreApplication::processEvents(); };
    platform::InstallGuiHooks(std::this_thread::get_id(), std::move(hooks));
}

GuiMessagePump::~GuiMessagePump() {
    platform::InstallGuiHooks(std::this_thread::get_id(), {});
}

} // namespace mbus::console

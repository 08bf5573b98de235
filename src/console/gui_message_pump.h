// The Qt side of the message windows. While a GuiMessagePump exists, a message posted or sent to
// a window of the GUI thread wakes the Qt event loop, which serves the thread's message queue
// (inside modal dialogs too, since they run the same event loop), and PumpOneMessage on the GUI
// thread lets Qt process its pending events once. The console makes one at start-up, on the GUI
// thread; the application object outlives it.
#pragma once

class QCoreApplication;

namespace mbus::console {

class GuiMessagePump {
public:
    explicit GuiMessagePump(QCoreApplication& application);
    ~GuiMessagePump();
    GuiMessagePump(const GuiMessagePump&) = delete;
    GuiMessagePump& operator=(const GuiMessagePump&) = delete;
};

} // namespace mbus::console

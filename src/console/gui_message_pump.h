// The Qt side of the message windows. While a GuiMessagePump exists, a message posted or sent to
// a window of the GUI thread wakes the Qt event loop, which serves the thread's message queue
// (inside modal dialogs too, since they run the same event loop), and PumpOneMessage on the GUI
// thread lets Qt process its pending events once. The console makes one at start-up, on the GUI
// thread, after the application object.
#pragma once

namespace mbus::console {

class GuiMessagePump {
public:
    GuiMessagePump();
    ~GuiMessagePump();
    GuiMessagePump(const GuiMessagePump&) = delete;
    GuiMessagePump& operator=(const GuiMessagePump&) = delete;
};

} // namespace mbus::console

#include "serial_ui/port_prompt_dialog.h"

#include "serial/port_prompt.h"
#include "serial_ui/com_select_form.h"

#include <QApplication>
#include <QThread>

namespace mbus::serial_ui {
namespace {

bool OnWindowThread() {
    const auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    return application != nullptr && QThread::currentThread() == application->thread();
}

std::optional<int> AskForPort() {
    if (!OnWindowThread())
        return std::nullopt;
    TComSelectForm form;
    if (form.exec() != QDialog::Accepted)
        return std::nullopt;
    return form.SelectedPort();
}

} // namespace

void InstallPortPrompt() {
    serial::SetPortPrompt(AskForPort);
}

} // namespace mbus::serial_ui

#include "console/mbus_program.h"

#include "console/application_error_reporter.h"
#include "console/error_box.h"
#include "console/gui_message_pump.h"
#include "console/main_window.h"
#include "console/message_box.h"
#include "console/qt_translation.h"
#include "serial_ui/port_prompt_dialog.h"

#include <QApplication>

namespace mbus::console {

std::unique_ptr<TForm1> CreateMainWindow() {
    auto form = std::make_unique<TForm1>();
    RunGuarded([&] { form->FormCreate(form.get()); });
    return form;
}

int Mbus(int& argc, char** argv) {
    QApplication application(argc, argv);
    InstallQtTranslation(application);
    SetApplicationTitle(QString::fromUtf8(kFormCaption));
    const GuiMessagePump messagePump(application);
    const ApplicationErrorReporter errorReporter(application);
    serial_ui::InstallPortPrompt();
    const std::unique_ptr<TForm1> form = CreateMainWindow();
    form->show();
    return application.exec();
}

} // namespace mbus::console

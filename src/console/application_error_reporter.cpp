#include "console/application_error_reporter.h"

#include "console/error_box.h"
#include "serial/application_errors.h"

#include <QCoreApplication>
#include <QThread>

namespace mbus::console {

ApplicationErrorReporter::ApplicationErrorReporter(QCoreApplication& application) {
    serial::SetApplicationErrorReporter([application = &application](const std::string& message) {
        const QString text = QString::fromStdString(message);
        if (QThread::currentThread() == application->thread())
            ShowErrorBox(text);
        else
            QMetaObject::invokeMethod(
                application, [text] { ShowErrorBox(text); }, Qt::QueuedConnection);
    });
}

ApplicationErrorReporter::~ApplicationErrorReporter() {
    serial::SetApplicationErrorReporter(nullptr);
}

} // namespace mbus::console

#include "console/error_box.h"

#include "console/message_box.h"

namespace mbus::console {

QString ErrorBoxText(const QString& message) {
    // Unicode order agrees with the byte order of the GBK text here: every non-ASCII character
    // is above "." either way, and ASCII is the same in both.
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void ShowErrorBox(const QString& message) {
    ShowMessageBox(ErrorBoxText(message), QString(), QMessageBox::Critical, QMessageBox::Ok);
}

void ShowCurrentException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowErrorBox(QStringLiteral("Unknown exception"));
    }
}

} // namespace mbus::console

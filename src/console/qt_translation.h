// Qt's own texts (the buttons of message boxes, the file dialogs, the context menus of the text
// fields) in Chinese like the console's own: Qt's translation qtbase_zh_CN from Qt's translations
// folder (Debian package qt6-translations-l10n), whatever the user's locale. Where it is missing
// Qt's texts stay English.
#pragma once

class QCoreApplication;

namespace mbus::console {

// Loads the translation into `application` (which owns it); false when it is not installed.
bool InstallQtTranslation(QCoreApplication& application);

} // namespace mbus::console

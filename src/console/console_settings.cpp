#include "console/console_settings.h"

#include <QSettings>
#include <QStandardPaths>

namespace mbus::console {
namespace {

constexpr char kAutoReconnectKey[] = "port/autoReconnect";
constexpr char kLogFolderKey[] = "traffic/logFolder";

// The file is named in full rather than by organisation and application: the configuration
// folder is looked up at each use, so it follows XDG_CONFIG_HOME as the port map does.
QSettings Settings() {
    return QSettings(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                         QStringLiteral("/mbus-console/console.ini"),
                     QSettings::IniFormat);
}

} // namespace

bool StoredAutoReconnect() {
    return Settings().value(QLatin1String(kAutoReconnectKey), false).toBool();
}

void StoreAutoReconnect(bool on) {
    Settings().setValue(QLatin1String(kAutoReconnectKey), on);
}

QString StoredLogFolder() {
    return Settings().value(QLatin1String(kLogFolderKey)).toString();
}

void StoreLogFolder(const QString& folder) {
    Settings().setValue(QLatin1String(kLogFolderKey), folder);
}

} // namespace mbus::console

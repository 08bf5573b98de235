#include "console/port_map_watch.h"

#include "platform/port_map.h"

#include <QSet>

namespace mbus::console {

PortMapWatch::PortMapWatch(QObject* parent) : QObject(parent) {
    Settle_.setSingleShot(true);
    Settle_.setInterval(kSettleMs);
    // The first change of a burst starts the wait; later ones fall into it, so a folder that
    // never settles (a busy /dev/pts) still gives a Changed every kSettleMs at most.
    connect(&Watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (!Settle_.isActive())
            Settle_.start();
    });
    connect(&Settle_, &QTimer::timeout, this, &PortMapWatch::Settled);
    WatchMapFolders();
}

bool PortMapWatch::Watching() const {
    return !Watcher_.directories().isEmpty();
}

void PortMapWatch::WatchMapFolders() {
    QSet<QString> wanted;
    for (const std::string& folder : platform::PortMapFolders())
        wanted.insert(QString::fromStdString(folder));
    QStringList gone;
    for (const QString& folder : Watcher_.directories()) {
        if (!wanted.remove(folder))
            gone << folder;
    }
    if (!gone.isEmpty())
        Watcher_.removePaths(gone);
    if (!wanted.isEmpty())
        Watcher_.addPaths(wanted.values());
}

void PortMapWatch::Settled() {
    WatchMapFolders();
    emit Changed();
}

} // namespace mbus::console

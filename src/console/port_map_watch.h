// Tells when the port map may have changed: the folders the map is made of (the ports folder,
// /dev, the folders the COM links point into) are watched through QFileSystemWatcher, and one
// Changed follows each burst of changes (a program registering a port makes several). The
// watched folders follow the map: a folder that appears, or one a new COM link points into, is
// watched from the next change on. The port list and the reconnect of a lost port listen.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

namespace mbus::console {

class PortMapWatch : public QObject {
    Q_OBJECT
public:
    // How long a burst of changes may last before Changed is signalled.
    static constexpr int kSettleMs = 100;

    explicit PortMapWatch(QObject* parent);

    // Whether any folder is watched (none where the platform keeps the list elsewhere): without
    // one, Changed never comes.
    bool Watching() const;

signals:
    void Changed();

private:
    void WatchMapFolders();
    void Settled();

    QFileSystemWatcher Watcher_;
    QTimer Settle_;
};

} // namespace mbus::console

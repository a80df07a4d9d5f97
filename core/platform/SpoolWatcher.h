#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class QSocketNotifier;

namespace platform {

// Tells at once when a file in one of the watched directories has been closed by its writer or
// moved in: the moments a report is whole. It watches with inotify; where that is not possible
// (no inotify, a directory that does not exist yet, a network share that sends no events) it
// says nothing, and whoever uses it has to look on its own now and then as well.
class SpoolWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SpoolWatcher(QObject* parent = nullptr);
    ~SpoolWatcher() override;

    // Watches exactly these directories from now on. Cheap when nothing changed, so it may be
    // called often: a directory that could not be watched, or was removed and made again, is
    // watched anew.
    void setDirectories(const QStringList& directories);
    // The directories watched now.
    QStringList watchedDirectories() const;

signals:
    // `name` in `directory` was closed after writing or moved into it.
    void fileReady(const QString& directory, const QString& name);

private:
    void readEvents();

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QHash<int, QString> m_dirs; // watch descriptor -> directory as given
};

} // namespace platform

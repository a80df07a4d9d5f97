#include "core/platform/SpoolWatcher.h"

#include "core/platform/FileName.h"

#include <QSocketNotifier>

#include <cerrno>
#include <climits>
#include <sys/inotify.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr uint32_t kEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_ONLYDIR;

} // namespace

SpoolWatcher::SpoolWatcher(QObject* parent) : QObject(parent)
{
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0)
        return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SpoolWatcher::readEvents);
}

SpoolWatcher::~SpoolWatcher()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

QStringList SpoolWatcher::watchedDirectories() const
{
    return m_dirs.values();
}

void SpoolWatcher::setDirectories(const QStringList& directories)
{
    if (m_fd < 0)
        return;
    for (auto it = m_dirs.begin(); it != m_dirs.end();) {
        if (directories.contains(it.value())) {
            ++it;
            continue;
        }
        ::inotify_rm_watch(m_fd, it.key());
        it = m_dirs.erase(it);
    }
    for (const QString& dir : directories) {
        // Adding a watch again for the same directory gives its descriptor back; a directory made
        // anew gets a new one (the old one went with the old directory).
        const int wd = ::inotify_add_watch(m_fd, encodeFileName(dir).constData(), kEvents);
        if (wd < 0)
            continue;
        for (auto it = m_dirs.begin(); it != m_dirs.end();) {
            if (it.value() == dir && it.key() != wd)
                it = m_dirs.erase(it);
            else
                ++it;
        }
        m_dirs.insert(wd, dir);
    }
}

void SpoolWatcher::readEvents()
{
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return; // EAGAIN: all read
        }
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event)) + event->len;
            if (event->mask & IN_IGNORED) {
                // The directory is gone (removed, or its file system unmounted).
                m_dirs.remove(event->wd);
                continue;
            }
            const auto dir = m_dirs.constFind(event->wd);
            if (dir == m_dirs.constEnd() || event->len == 0 || (event->mask & IN_ISDIR))
                continue;
            emit fileReady(*dir, decodeFileName(event->name));
        }
    }
}

} // namespace platform

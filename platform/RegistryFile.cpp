#include "platform/RegistryFile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// What identifies one version of the file: a save renames a new file into place, so the inode
// changes with every write of ours; size and time catch edits in place by other programs.
struct FileIdentity
{
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    qint64 mtimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct CacheEntry
{
    FileIdentity id;
    RegistryHive hive;
};

QMutex g_cacheMutex;
QHash<QString, CacheEntry> g_cache;
QSet<QString> g_reported; // problems already written to stderr, each once per run

void reportOnce(const QString& message)
{
    if (g_reported.contains(message))
        return;
    g_reported.insert(message);
    std::fprintf(stderr, "tarnyx: %s\n", qPrintable(message));
}

std::optional<FileIdentity> identityOf(const QByteArray& path)
{
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino, st.st_size,
                        qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// Reads the whole file; nullopt with errno set when it cannot be read.
std::optional<QByteArray> readAll(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray data;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            errno = e;
            return std::nullopt;
        }
        if (n == 0)
            break;
        data.append(buf, n);
    }
    ::close(fd);
    return data;
}

bool writeAll(int fd, const QByteArray& data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

class FileLock
{
public:
    explicit FileLock(const QString& path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0)
            return;
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool locked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// Moves a file that cannot be parsed out of the way under a name that tells when.
void setAside(const QString& path, const QString& why)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(target).constData()) == 0) {
        std::fprintf(stderr,
                     "tarnyx: the registry file %s cannot be read (%s); it was kept as %s "
                     "and the defaults apply\n",
                     qPrintable(path), qPrintable(why), qPrintable(target));
    } else {
        reportOnce(QStringLiteral("the registry file %1 cannot be read (%2) and cannot be moved "
                                  "aside (%3); the defaults apply")
                       .arg(path, why, QString::fromLocal8Bit(std::strerror(errno))));
    }
}

// Loads the current content. A damaged file is set aside only under the lock, so that a writer
// that is just replacing it is never robbed of its new file.
RegistryHive load(const QString& path, bool holdingLock)
{
    const QByteArray native = QFile::encodeName(path);
    const std::optional<FileIdentity> id = identityOf(native);
    if (!id)
        return {};
    {
        QMutexLocker lock(&g_cacheMutex);
        auto it = g_cache.constFind(path);
        if (it != g_cache.constEnd() && it->id == *id)
            return it->hive;
    }
    const std::optional<QByteArray> data = readAll(native);
    if (!data) {
        QMutexLocker lock(&g_cacheMutex);
        reportOnce(QStringLiteral("the registry file %1 cannot be read (%2); the defaults apply")
                       .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        return {};
    }
    RegistryHive::ParseResult parsed = RegistryHive::parse(*data);
    if (parsed.hive) {
        QMutexLocker lock(&g_cacheMutex);
        g_cache.insert(path, CacheEntry{*id, *parsed.hive});
        return *parsed.hive;
    }
    if (!holdingLock) {
        FileLock lock(path + QStringLiteral(".lock"));
        return load(path, true);
    }
    setAside(path, parsed.error);
    return {};
}

} // namespace

RegistryFile::RegistryFile(QString path) : m_path(std::move(path))
{}

QString RegistryFile::defaultPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Morvane/registry.reg");
}

RegistryHive RegistryFile::read() const
{
    return load(m_path, false);
}

bool RegistryFile::modify(const std::function<bool(RegistryHive&)>& fn) const
{
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    FileLock lock(m_path + QStringLiteral(".lock"));
    if (!lock.locked())
        return false;
    RegistryHive hive = load(m_path, true);
    if (!fn(hive))
        return false;

    const QByteArray data = hive.serialize();
    const QByteArray target = QFile::encodeName(m_path);
    const QByteArray temp = target + ".tmp-" + QByteArray::number(::getpid());
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, data) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || ::rename(temp.constData(), target.constData()) != 0) {
        ::unlink(temp.constData());
        return false;
    }
    // Make the rename itself durable.
    const int dirFd =
        ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    if (const std::optional<FileIdentity> id = identityOf(target)) {
        QMutexLocker cacheLock(&g_cacheMutex);
        g_cache.insert(m_path, CacheEntry{*id, std::move(hive)});
    }
    return true;
}

} // namespace platform

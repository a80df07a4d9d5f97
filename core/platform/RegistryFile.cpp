#include "core/platform/RegistryFile.h"

#include "core/platform/FileInfo.h"
#include "core/platform/FileName.h"
#include "core/platform/NamedMutex.h"
#include "core/platform/OutputFile.h"
#include "core/platform/WholeFile.h"

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
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

struct CacheEntry
{
    FileIdentity id;
    RegistryHive hive;
};

QMutex g_cacheMutex;
QHash<QString, CacheEntry> g_cache;
QSet<QString> g_reported; // problems already written to stderr, each once per run
QString g_notice;         // the one the user is yet to be told, for the windows to show

void reportOnce(const QString& message)
{
    if (g_reported.contains(message))
        return;
    g_reported.insert(message);
    std::fprintf(stderr, "tarnyx: %s\n", qPrintable(message));
}

// What identifies one version of the file: a save renames a new file into place, so the inode
// changes with every write of ours; size and time catch edits in place by other programs.
std::optional<FileIdentity> versionOf(const QByteArray& path)
{
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return std::nullopt;
    return identityOf(st);
}

// Moves a file that cannot be parsed out of the way under a name that tells when.
void setAside(const QString& path, const QString& why)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    if (::rename(platform::encodeFileName(path).constData(),
                 platform::encodeFileName(target).constData()) == 0) {
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

// Loads the current content; nullopt when the file exists but cannot be read, so that a write
// leaves it alone. A damaged file is reported to a reader, which goes on with the defaults, and
// set aside only by a writer, under the lock, just before it writes the file anew.
std::optional<RegistryHive> load(const QString& path, bool forWrite)
{
    const QByteArray native = platform::encodeFileName(path);
    const std::optional<FileIdentity> id = versionOf(native);
    if (!id) // nothing there yet (a link to nothing included): an empty tree
        return errno == ENOENT ? std::optional(RegistryHive()) : std::nullopt;
    {
        QMutexLocker lock(&g_cacheMutex);
        auto it = g_cache.constFind(path);
        if (it != g_cache.constEnd() && it->id == *id)
            return it->hive;
    }
    const std::optional<QByteArray> data = readWholeFile(path);
    if (!data) {
        QMutexLocker lock(&g_cacheMutex);
        const QString message =
            QStringLiteral("Soubor nastavení %1 nelze číst: %2.\rPlatí výchozí nastavení a soubor "
                           "se nepřepisuje.")
                .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        if (!g_reported.contains(message))
            g_notice = message;
        reportOnce(message);
        return std::nullopt;
    }
    RegistryHive::ParseResult parsed = RegistryHive::parse(*data);
    if (parsed.hive) {
        QMutexLocker lock(&g_cacheMutex);
        g_cache.insert(path, CacheEntry{*id, *parsed.hive});
        return *parsed.hive;
    }
    if (!forWrite) {
        QMutexLocker lock(&g_cacheMutex);
        reportOnce(QStringLiteral("the registry file %1 cannot be read (%2); the defaults apply")
                       .arg(path, parsed.error));
        return RegistryHive();
    }
    setAside(path, parsed.error);
    return RegistryHive();
}

} // namespace

RegistryFile::RegistryFile(QString path) : m_path(std::move(path))
{}

QString RegistryFile::takeNotice()
{
    QMutexLocker lock(&g_cacheMutex);
    return std::exchange(g_notice, QString());
}

QString RegistryFile::defaultPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Morvane/registry.reg");
}

RegistryHive RegistryFile::read() const
{
    return load(m_path, false).value_or(RegistryHive());
}

bool RegistryFile::modify(const std::function<bool(RegistryHive&)>& fn) const
{
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    const FileLockGuard lock(ownFileLockPath(m_path));
    if (!lock.locked())
        return false;
    std::optional<RegistryHive> loaded = load(m_path, true);
    if (!loaded)
        return false; // a file that cannot be read is never replaced by what little is known
    RegistryHive hive = std::move(*loaded);
    if (!fn(hive))
        return false;

    if (!replaceWholeFile(m_path, hive.serialize()))
        return false;
    if (const std::optional<FileIdentity> id = versionOf(platform::encodeFileName(m_path))) {
        QMutexLocker cacheLock(&g_cacheMutex);
        g_cache.insert(m_path, CacheEntry{*id, std::move(hive)});
    }
    return true;
}

} // namespace platform

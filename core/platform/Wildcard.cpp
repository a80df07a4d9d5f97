#include "core/platform/Wildcard.h"

#include "core/platform/FileName.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform {

bool wildcardMatch(QStringView pattern, QStringView name)
{
    if (pattern.isEmpty())
        return name.isEmpty();
    const QChar p = pattern.front();
    if (p == u'*') {
        for (qsizetype skip = 0; skip <= name.size(); ++skip)
            if (wildcardMatch(pattern.sliced(1), name.sliced(skip)))
                return true;
        return false;
    }
    if (p == u'?') {
        // Zero characters, or exactly one.
        return wildcardMatch(pattern.sliced(1), name) ||
               (!name.isEmpty() && wildcardMatch(pattern.sliced(1), name.sliced(1)));
    }
    return !name.isEmpty() && p.toCaseFolded() == name.front().toCaseFolded() &&
           wildcardMatch(pattern.sliced(1), name.sliced(1));
}

QList<DirEntry> findMatches(const QString& directory, const QString& pattern)
{
    QList<DirEntry> matches;
    DIR* dir = ::opendir(platform::encodeFileName(directory).constData());
    if (!dir)
        return matches;
    const int dirFd = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        const QString name = platform::decodeFileName(e->d_name);
        if (name == u"." || name == u".." || !wildcardMatch(pattern, name))
            continue;
        struct stat st;
        if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // vanished meanwhile
        const bool regular = S_ISREG(st.st_mode);
        matches << DirEntry{name, regular ? qint64(st.st_size) : 0, S_ISDIR(st.st_mode), regular,
                            qint64(st.st_mtim.tv_sec)};
    }
    ::closedir(dir);
    return matches;
}

} // namespace platform

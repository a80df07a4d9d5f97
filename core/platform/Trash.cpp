#include "core/platform/Trash.h"

#include "core/platform/FileDescriptor.h"
#include "core/platform/FileName.h"
#include "core/platform/WholeFile.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A directory of ours for the trash in `parent`, opened: made with only the owner's rights when
// missing, and never a link or somebody else's folder. Invalid when there is none.
FileDescriptor openPrivateDirectory(int parent, const QByteArray& name)
{
    if (::mkdirat(parent, name.constData(), 0700) != 0 && errno != EEXIST)
        return FileDescriptor();
    FileDescriptor dir(openDirectoryAt(parent, name.constData()));
    struct stat st;
    if (dir.valid() && (::fstat(dir.get(), &st) != 0 || st.st_uid != ::getuid()))
        dir.reset();
    return dir;
}

// A trash's folders for the files and for their records, checked once and from then on used
// through their descriptors: nothing renamed in their place meanwhile receives a file.
struct OpenTrash
{
    FileDescriptor files;
    FileDescriptor info;
    bool valid() const { return files.valid() && info.valid(); }
};

OpenTrash openTrash(int parent, const QByteArray& name)
{
    OpenTrash trash;
    const FileDescriptor base = openPrivateDirectory(parent, name);
    if (base.valid()) {
        trash.files = openPrivateDirectory(base.get(), "files");
        trash.info = openPrivateDirectory(base.get(), "info");
    }
    return trash;
}

FileDescriptor openFolder(const QByteArray& path)
{
    return FileDescriptor(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// The home trash ($XDG_DATA_HOME/Trash), made when missing; its path goes to `path`.
OpenTrash openHomeTrash(QString* path = nullptr)
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty() || !QDir().mkpath(dataHome))
        return {};
    const FileDescriptor data = openFolder(encodeFileName(dataHome));
    if (!data.valid())
        return {};
    if (path)
        *path = dataHome + QStringLiteral("/Trash");
    return openTrash(data.get(), "Trash");
}

// The top of the file system that holds `directory`: the last folder on the way up that is
// still on the same device.
QByteArray topDirectory(QByteArray directory, dev_t device)
{
    while (directory.size() > 1) {
        const qsizetype slash = directory.lastIndexOf('/');
        const QByteArray parent = slash <= 0 ? QByteArray("/") : directory.left(slash);
        struct stat st;
        if (::stat(parent.constData(), &st) != 0 || st.st_dev != device)
            break;
        directory = parent;
    }
    return directory;
}

// The trash for a file on another file system than the home trash, made when missing; invalid
// when that file system offers none to this user.
OpenTrash topTrash(const QByteArray& top)
{
    const FileDescriptor topDir = openFolder(top);
    if (!topDir.valid())
        return {};
    const QByteArray uid = QByteArray::number(::getuid());
    // A shared trash the administrator made: a real folder with the sticky bit, never a link.
    const FileDescriptor shared(openDirectoryAt(topDir.get(), ".Trash"));
    struct stat st;
    if (shared.valid() && ::fstat(shared.get(), &st) == 0 && (st.st_mode & S_ISVTX)) {
        OpenTrash trash = openTrash(shared.get(), uid);
        if (trash.valid())
            return trash;
    }
    return openTrash(topDir.get(), ".Trash-" + uid);
}

} // namespace

QString homeTrashDirectory()
{
    QString path;
    return openHomeTrash(&path).valid() ? path : QString();
}

bool moveToTrash(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QByteArray source = encodeFileName(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    const qsizetype slash = source.lastIndexOf('/');
    const QByteArray folder = slash <= 0 ? QByteArray("/") : source.left(slash);
    const QByteArray name = source.mid(slash + 1);
    // The file is looked at and moved through its folder's descriptor, and only a plain file
    // goes: never a folder, nor a link in the file's place.
    const FileDescriptor dir = openFolder(folder);
    struct stat st;
    if (!dir.valid() || name.isEmpty() ||
        ::fstatat(dir.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
        return false;
    OpenTrash trash = openHomeTrash();
    struct stat homeStat;
    // The record names the file by its absolute path in the home trash, relative to the top of
    // its file system in a trash there (so that a disk carried elsewhere still restores).
    QByteArray recorded = source;
    if (!trash.valid() || ::fstat(trash.files.get(), &homeStat) != 0 ||
        homeStat.st_dev != st.st_dev) {
        const QByteArray top = topDirectory(folder, st.st_dev);
        trash = topTrash(top);
        if (!trash.valid())
            return false;
        recorded = source.mid(top == "/" ? 1 : top.size() + 1);
    }

    // A free name in the trash: its record is made first, exclusively, so two deletions of
    // files of one name never share it.
    QByteArray trashed = name;
    int fd = -1;
    for (int n = 2; n < 10000; ++n) {
        const QByteArray info = trashed + ".trashinfo";
        fd = ::openat(trash.info.get(), info.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || errno != EEXIST)
            break;
        trashed = name + '.' + QByteArray::number(n);
    }
    if (fd < 0)
        return false;
    const QByteArray info = trashed + ".trashinfo";
    const QByteArray record =
        "[Trash Info]\nPath=" + recorded.toPercentEncoding("/") + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1() +
        '\n';
    const bool written = writeAll(fd, record.constData(), record.size());
    if (::close(fd) != 0 || !written ||
        ::renameat(dir.get(), name.constData(), trash.files.get(), trashed.constData()) != 0) {
        ::unlinkat(trash.info.get(), info.constData(), 0);
        return false;
    }
    // Should another program have put something else under the file's name since the look
    // above, that goes back where it was and the file counts as not deleted.
    struct stat moved;
    if (::fstatat(trash.files.get(), trashed.constData(), &moved, AT_SYMLINK_NOFOLLOW) != 0 ||
        moved.st_dev != st.st_dev || moved.st_ino != st.st_ino) {
        ::renameat2(trash.files.get(), trashed.constData(), dir.get(), name.constData(),
                    RENAME_NOREPLACE);
        ::unlinkat(trash.info.get(), info.constData(), 0);
        return false;
    }
    return true;
}

} // namespace platform

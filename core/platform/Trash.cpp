#include "core/platform/Trash.h"

#include "core/platform/FileName.h"
#include "core/platform/WholeFile.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A directory of ours for the trash: made with only the owner's rights when missing, and never
// a link or somebody else's folder.
bool ensurePrivateDirectory(const QByteArray& path)
{
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

bool ensureTrash(const QByteArray& trash)
{
    return ensurePrivateDirectory(trash) && ensurePrivateDirectory(trash + "/files") &&
           ensurePrivateDirectory(trash + "/info");
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

// The trash for a file on another file system than the home trash, made when missing; empty
// when that file system offers none to this user.
QByteArray topTrash(const QByteArray& top)
{
    const QByteArray uid = QByteArray::number(::getuid());
    const QByteArray base = top == "/" ? QByteArray() : top;
    // A shared trash the administrator made: a real folder with the sticky bit, never a link.
    struct stat st;
    const QByteArray shared = base + "/.Trash";
    if (::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) &&
        ensureTrash(shared + '/' + uid))
        return shared + '/' + uid;
    const QByteArray own = base + "/.Trash-" + uid;
    return ensureTrash(own) ? own : QByteArray();
}

} // namespace

QString homeTrashDirectory()
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty() || !QDir().mkpath(dataHome))
        return {};
    const QString trash = dataHome + QStringLiteral("/Trash");
    return ensureTrash(encodeFileName(trash)) ? trash : QString();
}

bool moveToTrash(const QString& path)
{
    const QByteArray source = encodeFileName(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    struct stat st;
    if (path.isEmpty() || ::stat(source.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const QString home = homeTrashDirectory();
    QByteArray trash = encodeFileName(home);
    struct stat homeStat;
    // The record names the file by its absolute path in the home trash, relative to the top of
    // its file system in a trash there (so that a disk carried elsewhere still restores).
    QByteArray recorded = source;
    if (home.isEmpty() || ::stat(trash.constData(), &homeStat) != 0 ||
        homeStat.st_dev != st.st_dev) {
        const QByteArray top = topDirectory(source.left(source.lastIndexOf('/')), st.st_dev);
        trash = topTrash(top);
        if (trash.isEmpty())
            return false;
        recorded = source.mid(top == "/" ? 1 : top.size() + 1);
    }

    // A free name in the trash: its record is made first, exclusively, so two deletions of
    // files of one name never share it.
    const QByteArray name = source.mid(source.lastIndexOf('/') + 1);
    QByteArray trashed = name;
    int fd = -1;
    for (int n = 2; n < 10000; ++n) {
        const QByteArray info = trash + "/info/" + trashed + ".trashinfo";
        fd = ::open(info.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || errno != EEXIST)
            break;
        trashed = name + '.' + QByteArray::number(n);
    }
    if (fd < 0)
        return false;
    const QByteArray info = trash + "/info/" + trashed + ".trashinfo";
    const QByteArray record =
        "[Trash Info]\nPath=" + recorded.toPercentEncoding("/") + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1() +
        '\n';
    const bool written = writeAll(fd, record.constData(), record.size());
    if (::close(fd) != 0 || !written ||
        ::rename(source.constData(), QByteArray(trash + "/files/" + trashed).constData()) != 0) {
        ::unlink(info.constData());
        return false;
    }
    return true;
}

} // namespace platform

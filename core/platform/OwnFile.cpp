#include "core/platform/OwnFile.h"

#include "core/platform/FileName.h"

#include <QDir>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Whether `path` is a folder of this user's that nobody else can reach; one of this user's with
// a wider mode is narrowed first.
bool isPrivateFolder(const QByteArray& path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    return (st.st_mode & 077) == 0 || ::chmod(path.constData(), 0700) == 0;
}

} // namespace

bool trustedOwner(uid_t owner)
{
    return owner == ::geteuid() || owner == 0;
}

int openLockFile(const QString& path)
{
    // Non-blocking, so that a FIFO planted under the name cannot hold the open up.
    const int fd = ::open(encodeFileName(path).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
    if (fd < 0)
        return -1;
    struct stat st;
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode) || !trustedOwner(st.st_uid))
        error = EPERM;
    if (error) {
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int lockOwnFile(const QString& path, int operation)
{
    const QByteArray name = encodeFileName(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = openLockFile(path);
        if (fd < 0)
            return -1;
        while (::flock(fd, operation) != 0) {
            if (errno != EINTR) {
                const int error = errno;
                ::close(fd);
                errno = error;
                return -1;
            }
        }
        struct stat held;
        struct stat named;
        if (::fstat(fd, &held) == 0 && ::lstat(name.constData(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return fd;
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}

QString privateRuntimeDirectory()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/') && isPrivateFolder(runtime))
        return decodeFileName(runtime);
    const QByteArray base =
        encodeFileName(QDir::tempPath()) + "/tarnyx-" + QByteArray::number(qulonglong(::geteuid()));
    for (int n = 0; n < 100; ++n) {
        const QByteArray path = n == 0 ? base : base + '.' + QByteArray::number(n);
        if (::mkdir(path.constData(), 0700) == 0)
            return decodeFileName(path);
        if (errno != EEXIST)
            return {};
        if (isPrivateFolder(path))
            return decodeFileName(path);
    }
    return {};
}

} // namespace platform

#include "core/platform/NamedMutex.h"

#include "core/platform/FileName.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

int lockFile(const QString& path, int operation)
{
    const int fd =
        ::open(platform::encodeFileName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    while (::flock(fd, operation) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

} // namespace

QString runtimeDirectory()
{
    const QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!dir.isEmpty() && QDir(dir).exists())
        return dir;
    return QDir::tempPath();
}

QString NamedMutex::pathFor(const QString& name)
{
    return runtimeDirectory() + u'/' + name + QStringLiteral(".lock");
}

NamedMutex::NamedMutex(const QString& name) : m_fd(lockFile(pathFor(name), LOCK_SH))
{}

NamedMutex::~NamedMutex()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

FileLockGuard::FileLockGuard(const QString& path) : m_fd(lockFile(path, LOCK_EX))
{}

FileLockGuard::~FileLockGuard()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace platform

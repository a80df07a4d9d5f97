#include "core/platform/DirectoryLock.h"

#include "core/platform/FileName.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

QString DirectoryLock::lockFilePath(const QString& directory)
{
    return directory + (directory.endsWith(u'/') ? QString() : QStringLiteral("/")) +
           QStringLiteral(".tarnyx.lock");
}

DirectoryLock::DirectoryLock(const QString& directory) : m_directory(directory)
{}

DirectoryLock::~DirectoryLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool DirectoryLock::lockFileInPlace() const
{
    struct stat held;
    struct stat named;
    return m_fd >= 0 && ::fstat(m_fd, &held) == 0 &&
           ::lstat(encodeFileName(lockFilePath(m_directory)).constData(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

DirectoryLock::State DirectoryLock::tryLock()
{
    // A lock counts only while its file is the one the directory holds: when the folder was
    // removed and made again (or the lock file deleted), the lock held is on a file nobody else
    // can find any more, and a second copy would take the new folder's reports too.
    if (m_state == State::Held && lockFileInPlace())
        return m_state;
    if (m_fd >= 0 && !lockFileInPlace()) {
        ::close(m_fd);
        m_fd = -1;
        m_state = State::Unavailable;
    }
    if (m_fd < 0) {
        // Never through a link: the lock must live in the directory itself. Readable and
        // writable for everyone, so that the copies of other users sharing the folder can lock
        // it too.
        m_fd = ::open(encodeFileName(lockFilePath(m_directory)).constData(),
                      O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0666);
        if (m_fd < 0) {
            m_error = errno;
            return m_state = State::Unavailable;
        }
        ::fchmod(m_fd, 0666); // past the umask; refused (and harmless) on another user's file
    }
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (::fcntl(m_fd, F_OFD_SETLK, &fl) == 0)
        return m_state = State::Held;
    m_error = errno;
    if (m_error == EAGAIN || m_error == EACCES)
        return m_state = State::HeldByOther;
    ::close(m_fd);
    m_fd = -1;
    return m_state = State::Unavailable;
}

} // namespace platform

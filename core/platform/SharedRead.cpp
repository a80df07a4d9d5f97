#include "core/platform/SharedRead.h"

#include "core/platform/FileName.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace platform {

namespace {

// A writer that opens a file on which we hold a lease makes the kernel send the lease holder
// SIGIO, whose default action ends the process. The lease is given back right after reading, so
// the notice is not needed: ignore it.
void ignoreLeaseBreakSignal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa = {};
        sa.sa_handler = SIG_IGN;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGIO, &sa, nullptr);
    });
}

bool changedInTheLastTwoSeconds(const struct stat& st)
{
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    const qint64 age = (qint64(now.tv_sec) - st.st_mtim.tv_sec) * 1000 +
                       (qint64(now.tv_nsec) - st.st_mtim.tv_nsec) / 1000000;
    return age < 2000;
}

} // namespace

SharedReadFile::~SharedReadFile()
{
    close();
}

SharedReadFile::Result SharedReadFile::open(const QString& path)
{
    close();
    ignoreLeaseBreakSignal();
    // Non-blocking, so that a named pipe in place of a report never hangs the open; a report is
    // the file itself, never what a symbolic link in its place points to.
    const int fd = ::open(platform::encodeFileName(path).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    m_error = errno;
    if (fd < 0)
        return m_error == ENOENT || m_error == ENOTDIR ? Result::Missing : Result::Failed;
    if (::fstat(fd, &m_stat) != 0 || !S_ISREG(m_stat.st_mode)) {
        m_error = S_ISDIR(m_stat.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return Result::Failed;
    }
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        m_leased = true;
    } else if (errno == EAGAIN || changedInTheLastTwoSeconds(m_stat)) {
        m_error = EBUSY;
        ::close(fd);
        return Result::InUse;
    }
    m_fd = fd;
    return Result::Opened;
}

void SharedReadFile::close()
{
    if (m_fd < 0)
        return;
    // Closing the only descriptor of the open file gives the lease back.
    ::close(m_fd);
    m_fd = -1;
    m_leased = false;
}

bool SharedReadFile::rewind()
{
    return ::lseek(m_fd, 0, SEEK_SET) == 0;
}

void SharedReadFile::releaseLease()
{
    if (m_leased && m_fd >= 0)
        ::fcntl(m_fd, F_SETLEASE, F_UNLCK);
    m_leased = false;
}

bool SharedReadFile::changedSinceOpen() const
{
    struct stat now;
    if (m_fd < 0 || ::fstat(m_fd, &now) != 0)
        return true;
    return now.st_size != m_stat.st_size || now.st_mtim.tv_sec != m_stat.st_mtim.tv_sec ||
           now.st_mtim.tv_nsec != m_stat.st_mtim.tv_nsec;
}

qint64 SharedReadFile::read(char* buffer, qint64 size)
{
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, size_t(size));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

} // namespace platform

#include "core/platform/DirectoryLock.h"

#include "core/platform/FileName.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr int kOpenFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// A folder that its group may write is served by the members of the group.
bool sharedWithGroup(const struct stat& dir)
{
    return (dir.st_mode & S_IWGRP) != 0;
}

bool isMember(uid_t user, gid_t group)
{
    std::vector<char> buffer(16384);
    struct passwd pw;
    struct passwd* found = nullptr;
    if (::getpwuid_r(user, &pw, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    if (pw.pw_gid == group)
        return true;
    std::vector<char> groupBuffer(65536);
    struct group gr;
    struct group* foundGroup = nullptr;
    if (::getgrgid_r(group, &gr, groupBuffer.data(), groupBuffer.size(), &foundGroup) != 0 ||
        !foundGroup)
        return false;
    for (char** member = gr.gr_mem; member && *member; ++member)
        if (qstrcmp(*member, pw.pw_name) == 0)
            return true;
    return false;
}

// Whether a lock file found in the folder `dir` was made by one of those who serve the folder and
// cannot be opened by everyone.
bool trusted(const struct stat& file, const struct stat& dir)
{
    if (!S_ISREG(file.st_mode) || (file.st_mode & S_IRWXO) != 0)
        return false;
    return file.st_uid == ::geteuid() || file.st_uid == 0 || file.st_uid == dir.st_uid ||
           (sharedWithGroup(dir) && isMember(file.st_uid, dir.st_gid));
}

// Gives a new lock file the access those who serve the folder need, past the umask.
void fitToFolder(int fd, const struct stat& dir)
{
    struct stat st;
    if (sharedWithGroup(dir) && ::fstat(fd, &st) == 0 &&
        (st.st_gid == dir.st_gid || ::fchown(fd, uid_t(-1), dir.st_gid) == 0))
        ::fchmod(fd, 0660);
    else
        ::fchmod(fd, 0600);
}

bool lockWrite(int fd)
{
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

} // namespace

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

QString DirectoryLock::foreignOwner() const
{
    std::vector<char> buffer(16384);
    struct passwd pw;
    struct passwd* found = nullptr;
    if (::getpwuid_r(m_foreignOwner, &pw, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(pw.pw_name);
    return QString::number(m_foreignOwner);
}

bool DirectoryLock::lockFileInPlace() const
{
    struct stat held;
    struct stat named;
    return m_fd >= 0 && ::fstat(m_fd, &held) == 0 &&
           ::lstat(encodeFileName(lockFilePath(m_directory)).constData(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

DirectoryLock::State DirectoryLock::untrusted(int fd, const struct stat& found)
{
    m_foreignOwner = found.st_uid;
    m_foreignRemoved = false;
    m_state = State::Untrusted;
    // A lock file that someone holds stays: on a file system that shows no real owners and modes
    // it may be the lock of a copy serving the folder. So does one that this user cannot open to
    // learn that. Locked, where it can be, while it is removed.
    if (S_ISREG(found.st_mode) && fd < 0)
        return m_state; // m_error tells why it cannot be opened
    if (fd >= 0) {
        struct flock fl = {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        const bool held =
            (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDWR
                ? ::fcntl(fd, F_OFD_SETLK, &fl) != 0 && (errno == EAGAIN || errno == EACCES)
                : ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
        if (held) {
            ::close(fd);
            m_error = EBUSY;
            return m_state;
        }
    }
    // Removed only while the name still holds the file looked at: a lock file that a copy of the
    // program made meanwhile stays. The lock is taken on the next attempt, not now, so that two
    // copies removing the same planted file at once cannot both end up holding a lock.
    const QByteArray name = encodeFileName(lockFilePath(m_directory));
    struct stat now;
    if (::lstat(name.constData(), &now) != 0 || now.st_dev != found.st_dev ||
        now.st_ino != found.st_ino || ::unlink(name.constData()) == 0)
        m_foreignRemoved = true;
    else
        m_error = errno;
    if (fd >= 0)
        ::close(fd);
    return m_state;
}

DirectoryLock::State DirectoryLock::tryLock()
{
    // A lock counts only while its file is the one the directory holds: when the folder was
    // removed and made again (or the lock file deleted), the lock held is on a file nobody else
    // can find any more, and a second copy would take the new folder's reports too.
    if (m_state == State::Held && lockFileInPlace())
        return m_state;
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_state = State::Unavailable;
    struct stat dir;
    if (::stat(encodeFileName(m_directory).constData(), &dir) != 0) {
        m_error = errno;
        return m_state;
    }
    const QByteArray name = encodeFileName(lockFilePath(m_directory));
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Never through a link: the lock must live in the directory itself.
        int fd = ::open(name.constData(), kOpenFlags);
        // A file made here now is the program's own, whatever modes the file system shows.
        bool made = false;
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(name.constData(), kOpenFlags | O_CREAT | O_EXCL, 0600);
            if (fd < 0 && errno == EEXIST)
                continue; // made by another copy meanwhile
            if (fd >= 0)
                fitToFolder(fd, dir);
            made = fd >= 0;
        }
        struct stat st;
        if (fd < 0) {
            m_error = errno;
            // A link, or a file this user may not write: whose is it?
            if (::lstat(name.constData(), &st) == 0 && !trusted(st, dir))
                return untrusted(S_ISREG(st.st_mode)
                                     ? ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC |
                                                                    O_NOCTTY | O_NONBLOCK)
                                     : -1,
                                 st);
            return m_state;
        }
        if (::fstat(fd, &st) != 0) {
            m_error = errno;
            ::close(fd);
            return m_state;
        }
        // Besides the program's own lock files, only one of this user's that others may open, made
        // when lock files were open to everyone, is locked: then it is replaced by one that others
        // cannot open, after the lock shows that no copy still uses it.
        const bool own = made || trusted(st, dir);
        if (!own && !(S_ISREG(st.st_mode) && st.st_uid == ::geteuid()))
            return untrusted(fd, st);
        if (!lockWrite(fd)) {
            m_error = errno;
            ::close(fd);
            if (m_error == EAGAIN || m_error == EACCES)
                m_state = State::HeldByOther;
            return m_state;
        }
        if (!own && ::unlink(name.constData()) == 0) {
            ::close(fd);
            continue;
        }
        // This user's file gets the access the folder needs now (or, where the folder takes no
        // new file, the old one is narrowed and serves on).
        if (st.st_uid == ::geteuid())
            fitToFolder(fd, dir);
        m_fd = fd;
        if (lockFileInPlace())
            return m_state = State::Held;
        // Replaced between opening and locking: the copy that made the new file has it.
        ::close(m_fd);
        m_fd = -1;
        return m_state = State::HeldByOther;
    }
    m_error = EAGAIN;
    return m_state = State::HeldByOther;
}

} // namespace platform

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

// Whether a lock file found in the folder `dir` can only have been made, and can only be opened,
// by those who serve the folder.
bool trusted(const struct stat& file, const struct stat& dir)
{
    if (!S_ISREG(file.st_mode) || (file.st_mode & S_IRWXO) != 0)
        return false;
    const bool group = sharedWithGroup(dir);
    if ((file.st_mode & S_IRWXG) != 0 && !(group && file.st_gid == dir.st_gid))
        return false;
    return file.st_uid == ::geteuid() || file.st_uid == 0 || file.st_uid == dir.st_uid ||
           (group && isMember(file.st_uid, dir.st_gid));
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

DirectoryLock::State DirectoryLock::untrusted(const struct stat& found)
{
    m_foreignOwner = found.st_uid;
    m_foreignRemoved = false;
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
    return m_state = State::Untrusted;
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
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(name.constData(), kOpenFlags | O_CREAT | O_EXCL, 0600);
            if (fd < 0 && errno == EEXIST)
                continue; // made by another copy meanwhile
            if (fd >= 0)
                fitToFolder(fd, dir);
        }
        struct stat st;
        if (fd < 0) {
            m_error = errno;
            // A link, or a file this user may not open: whose is it?
            if (::lstat(name.constData(), &st) == 0 && !trusted(st, dir))
                return untrusted(st);
            return m_state;
        }
        if (::fstat(fd, &st) != 0) {
            m_error = errno;
            ::close(fd);
            return m_state;
        }
        if (!trusted(st, dir) && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
            // This user's own, made when lock files were open to everyone. Locked first, so that
            // no copy still holding it is left out, then replaced by one that others cannot open.
            if (!lockWrite(fd)) {
                m_error = errno;
                ::close(fd);
                if (m_error == EAGAIN || m_error == EACCES)
                    m_state = State::HeldByOther;
                return m_state;
            }
            if (::unlink(name.constData()) == 0) {
                ::close(fd);
                continue;
            }
            // The folder takes no change: the old file, narrowed, serves on.
            fitToFolder(fd, dir);
        } else if (!trusted(st, dir)) {
            ::close(fd);
            return untrusted(st);
        } else if (!lockWrite(fd)) {
            m_error = errno;
            ::close(fd);
            if (m_error == EAGAIN || m_error == EACCES)
                m_state = State::HeldByOther;
            return m_state;
        }
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

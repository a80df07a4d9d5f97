#include "core/platform/FileDescriptor.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Whether `gid` is the group of `owner` alone: the owner's primary group, named after the owner
// and listing nobody else, as user private groups are made.
bool ownersPrivateGroup(uid_t owner, gid_t gid)
{
    QByteArray buffer(16384, Qt::Uninitialized);
    struct passwd pw;
    struct passwd* user = nullptr;
    if (::getpwuid_r(owner, &pw, buffer.data(), size_t(buffer.size()), &user) != 0 || !user ||
        user->pw_gid != gid)
        return false;
    const QByteArray userName(user->pw_name);
    struct group gr;
    struct group* group = nullptr;
    if (::getgrgid_r(gid, &gr, buffer.data(), size_t(buffer.size()), &group) != 0 || !group)
        return false;
    return userName == group->gr_name && (!group->gr_mem || !group->gr_mem[0]);
}

} // namespace

FileDescriptor::~FileDescriptor()
{
    close();
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other)
        reset(std::exchange(other.m_fd, -1));
    return *this;
}

void FileDescriptor::reset(int fd)
{
    close();
    m_fd = fd;
}

bool FileDescriptor::close()
{
    if (m_fd < 0)
        return true;
    const int fd = m_fd;
    m_fd = -1;
    return ::close(fd) == 0;
}

int openDirectoryAt(int dirFd, const char* name)
{
    return ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool writableByOthers(const struct stat& st)
{
    if (st.st_mode & S_IWOTH)
        return true;
    return (st.st_mode & S_IWGRP) && !ownersPrivateGroup(st.st_uid, st.st_gid);
}

} // namespace platform

#pragma once

#include <QString>

#include <sys/types.h>

struct stat;

namespace platform {

// A lock that a process holds in a directory for as long as it serves that directory, so that
// two copies of the program (under two logins of one user, of two users of the folder's group, or
// on two machines sharing the folder) never take the same reports. It is a write lock on the file
// ".tarnyx.lock" in the directory, an open-file-description lock: the kernel (and the file
// server, where the file system passes such locks on) gives it back when the process ends,
// however it ends.
//
// Only those who serve the folder may open the lock file: its mode is 0600, or 0660 with the
// folder's group where the group may write the folder. A lock file that someone else could have
// planted (a link, a file of a user outside the folder's owner and group, one that everyone may
// open) is not used, as its owner could hold the lock and stop all printing from the folder, or
// fill it. Where nobody holds it and the folder lets this user, it is removed, and a new one is
// made on the next attempt; otherwise nothing is served from the folder while it is there.
class DirectoryLock
{
public:
    enum class State
    {
        Held,        // this object holds the lock
        HeldByOther, // another process holds it
        Unavailable, // no lock can be made here (a read-only folder, a file system without locks)
        Untrusted    // the lock file is not to be trusted (see foreignOwner): serve nothing now
    };

    explicit DirectoryLock(const QString& directory);
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    // Tries to take the lock without waiting; a lock already held stays held as long as its file
    // is still the directory's lock file, and is taken anew in a directory made again.
    State tryLock();
    State state() const { return m_state; }
    // The errno of the last attempt that found no lock possible, or that could not remove an
    // untrusted lock file.
    int error() const { return m_error; }
    // After Untrusted: who owns the lock file found (a user name, else the number), and whether it
    // was removed, so that the next attempt can make a lock file of its own.
    QString foreignOwner() const;
    bool foreignRemoved() const { return m_foreignRemoved; }

    static QString lockFilePath(const QString& directory);

private:
    bool lockFileInPlace() const;
    // Takes over `fd`, the untrusted file opened (-1 where it cannot be).
    State untrusted(int fd, const struct stat& found);

    QString m_directory;
    int m_fd = -1;
    State m_state = State::Unavailable;
    int m_error = 0;
    uid_t m_foreignOwner = 0;
    bool m_foreignRemoved = false;
};

} // namespace platform

#pragma once

#include <QString>

namespace platform {

// A lock that a process holds in a directory for as long as it serves that directory, so that
// two copies of the program (under two logins of one user, or on two machines sharing the
// folder) never take the same reports. It is a write lock on the file ".tarnyx.lock" in the
// directory, an open-file-description lock: the kernel (and the file server, where the file
// system passes such locks on) gives it back when the process ends, however it ends.
class DirectoryLock
{
public:
    enum class State
    {
        Held,        // this object holds the lock
        HeldByOther, // another process holds it
        Unavailable  // no lock can be made here (a read-only folder, a file system without locks)
    };

    explicit DirectoryLock(const QString& directory);
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    // Tries to take the lock without waiting; a lock already held stays held as long as its file
    // is still the directory's lock file, and is taken anew in a directory made again.
    State tryLock();
    State state() const { return m_state; }
    // The errno of the last attempt that found no lock possible.
    int error() const { return m_error; }

    static QString lockFilePath(const QString& directory);

private:
    bool lockFileInPlace() const;

    QString m_directory;
    int m_fd = -1;
    State m_state = State::Unavailable;
    int m_error = 0;
};

} // namespace platform

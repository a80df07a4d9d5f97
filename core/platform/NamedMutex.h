#pragma once

#include <QString>

namespace platform {

// A name other programs can see while this program runs: a file in the user's runtime directory
// held open with a shared lock for the program's lifetime. An installer can take an exclusive lock
// on it to learn that the program still runs.
class NamedMutex
{
public:
    explicit NamedMutex(const QString& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Empty when the user has no runtime directory.
    static QString pathFor(const QString& name);

private:
    int m_fd = -1;
};

// An exclusive lock on a file for as long as the object lives; waits for it. The lock file is a
// file of the program's own (see lockOwnFile): a link or another user's file under its name takes
// no lock, and locked() is false.
class FileLockGuard
{
public:
    explicit FileLockGuard(const QString& path);
    ~FileLockGuard();
    FileLockGuard(const FileLockGuard&) = delete;
    FileLockGuard& operator=(const FileLockGuard&) = delete;
    bool locked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// The user's runtime directory, one only this user can reach (privateRuntimeDirectory); empty
// when there is none.
QString runtimeDirectory();

} // namespace platform

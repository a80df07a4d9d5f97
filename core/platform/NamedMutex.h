#pragma once

#include <QString>

namespace platform {

// A name other programs can see while this program runs: a file in the user's runtime directory
// ($XDG_RUNTIME_DIR, else the temporary directory) held open with a shared lock for the
// program's lifetime. An installer can take an exclusive lock on it to learn that the program
// still runs.
class NamedMutex
{
public:
    explicit NamedMutex(const QString& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    static QString pathFor(const QString& name);

private:
    int m_fd = -1;
};

// An exclusive lock on a file for as long as the object lives; waits for it.
class FileLockGuard
{
public:
    explicit FileLockGuard(const QString& path);
    ~FileLockGuard();
    FileLockGuard(const FileLockGuard&) = delete;
    FileLockGuard& operator=(const FileLockGuard&) = delete;

private:
    int m_fd = -1;
};

// The user's runtime directory.
QString runtimeDirectory();

} // namespace platform

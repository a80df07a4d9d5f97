#pragma once

#include <QString>

#include <sys/stat.h>

namespace platform {

// A file opened for reading only, refused while another process has it open for writing: the
// payroll program may still be writing a report when it first appears in the spool directory.
//
// The kernel's read lease tells whether anybody holds the file open for writing. Where leases are
// not available (network file systems, files of another user), a file changed within the last
// two seconds counts as still being written. The lease is given back as soon as the reader is
// closed, so a writer that opens the file meanwhile is held up only for that moment.
class SharedReadFile
{
public:
    SharedReadFile() = default;
    ~SharedReadFile();
    SharedReadFile(const SharedReadFile&) = delete;
    SharedReadFile& operator=(const SharedReadFile&) = delete;

    enum class Result
    {
        Opened,
        Missing,
        InUse,
        Failed
    };
    Result open(const QString& path);
    void close();

    int fd() const { return m_fd; }
    // The errno of the last open that failed.
    int error() const { return m_error; }
    // The status of the open file (valid after Opened).
    const struct stat& status() const { return m_stat; }

    // Reads up to `size` bytes; -1 on error.
    qint64 read(char* buffer, qint64 size);
    // Moves the read position back to the start.
    bool rewind();
    // Gives the lease back while keeping the file open: from now on a writer is no longer held
    // up, and changedSinceOpen() tells whether one has been at work.
    void releaseLease();
    // True when the file's size or last-write time differ from what they were at open.
    bool changedSinceOpen() const;

private:
    int m_fd = -1;
    int m_error = 0;
    bool m_leased = false;
    struct stat m_stat = {};
};

} // namespace platform

#pragma once

#include <utility>

struct stat;

namespace platform {

// An open file descriptor that is closed when it goes out of scope. Work done on a file or
// directory through its descriptor stays with what was opened, whatever another program renames
// in its place meanwhile.
class FileDescriptor
{
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes the descriptor held so far and takes `fd` instead.
    void reset(int fd = -1);
    // Closes it now; false with errno set when the close reports an error.
    bool close();

private:
    int m_fd = -1;
};

// Opens the directory `name` in `dirFd` (AT_FDCWD: the working directory) for reading and for
// the *at() calls, never through a symbolic link in the last step; -1 with errno set otherwise.
int openDirectoryAt(int dirFd, const char* name);

// Whether users other than its owner may write it (in a directory: add, rename and delete its
// entries). The owner's own group (the one named after the owner and without further members)
// counts as the owner.
bool writableByOthers(const struct stat& st);

} // namespace platform

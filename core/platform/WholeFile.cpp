#include "core/platform/WholeFile.h"

#include "core/platform/FileName.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool writeAll(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

bool copyAll(int in, int out)
{
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        if (!writeAll(out, buffer, n))
            return false;
    }
}

std::optional<QByteArray> readAll(int fd)
{
    QByteArray data;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return data;
        data.append(buf, n);
    }
}

std::optional<QByteArray> readWholeFile(const QString& path)
{
    // A pipe or device under the name is no file of ours: it is neither waited on nor read.
    const int fd = ::open(platform::encodeFileName(path).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat st
    {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return std::nullopt;
    }
    std::optional<QByteArray> data = readAll(fd);
    const int e = errno;
    ::close(fd);
    errno = e;
    return data;
}

} // namespace platform

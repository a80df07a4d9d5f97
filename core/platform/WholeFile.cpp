#include "core/platform/WholeFile.h"

#include "core/platform/FileName.h"
#include "core/platform/OutputFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
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

std::optional<QByteArray> readWholeFile(const QString& path)
{
    const int fd =
        ::open(platform::encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    QByteArray data;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            errno = e;
            return std::nullopt;
        }
        if (n == 0)
            break;
        data.append(buf, n);
    }
    ::close(fd);
    return data;
}

bool replaceWholeFile(const QString& path, const QByteArray& data)
{
    const OutputTarget resolved = resolveOutputTarget(path);
    if (resolved.kind == OutputTarget::Kind::Refused) {
        errno = resolved.error;
        return false;
    }
    if (resolved.kind == OutputTarget::Kind::Stream)
        return writeToStream(resolved, data);
    const QByteArray target = platform::encodeFileName(resolved.path);
    // One name for every writer (they hold the file's lock): a temporary file left by a writer
    // that was killed is simply written over by the next one.
    const QByteArray temp = target + ".tmp";
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, data.constData(), data.size()) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || ::rename(temp.constData(), target.constData()) != 0) {
        ::unlink(temp.constData());
        return false;
    }
    const int dirFd =
        ::open(platform::encodeFileName(QFileInfo(resolved.path).absolutePath()).constData(),
               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace platform

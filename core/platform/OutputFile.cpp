#include "core/platform/OutputFile.h"

#include "core/platform/FileName.h"
#include "core/platform/WholeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kMaxLinks = 40; // as the kernel allows in one path

const QString kStandardOutput = QStringLiteral("-");

OutputTarget refused(int error, const QString& reason = {})
{
    OutputTarget t;
    t.error = error;
    t.reason = reason.isEmpty() ? QString::fromLocal8Bit(std::strerror(error)) : reason;
    return t;
}

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

// How a name that holds `st` is written.
OutputTarget classified(const struct stat& st, const QByteArray& name)
{
    if (S_ISREG(st.st_mode))
        return OutputTarget{OutputTarget::Kind::File, decodeFileName(name), 0, {}};
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))
        return OutputTarget{OutputTarget::Kind::Stream, decodeFileName(name), 0, {}};
    if (S_ISDIR(st.st_mode))
        return refused(EISDIR);
    return refused(EINVAL, QStringLiteral("not a regular file, FIFO or character device"));
}

// Opens a Stream target for writing; -1 with errno set. Standard output is not opened anew.
int openStream(const OutputTarget& target)
{
    if (target.path == kStandardOutput)
        return STDOUT_FILENO;
    const int fd = ::open(encodeFileName(target.path).constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // The name may have been replaced since it was looked at: only a stream is written in place.
    struct stat st;
    if (::fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

bool closeStream(int fd, bool ok)
{
    if (fd == STDOUT_FILENO)
        return ok;
    const int e = errno;
    const bool closed = ::close(fd) == 0;
    if (!ok)
        errno = e;
    return ok && closed;
}

} // namespace

OutputTarget resolveOutputTarget(const QString& path)
{
    QByteArray name = encodeFileName(QFileInfo(path).absoluteFilePath());
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat st;
        if (::lstat(name.constData(), &st) != 0) {
            if (errno != ENOENT)
                return refused(errno);
            // A free name: its folder must be there to take the new file.
            struct stat dir;
            if (::stat(parentOf(name).constData(), &dir) != 0)
                return refused(errno);
            if (!S_ISDIR(dir.st_mode))
                return refused(ENOTDIR);
            return OutputTarget{OutputTarget::Kind::File, decodeFileName(name), 0, {}};
        }
        if (S_ISLNK(st.st_mode)) {
            // What the link leads to decides; only a file needs the name at the end of the
            // chain, to be renamed over. A stream is opened through the link, which also serves
            // the links of /proc (/dev/stdout to a pipe) that name no path.
            struct stat followed;
            if (::stat(name.constData(), &followed) == 0 && !S_ISREG(followed.st_mode))
                return classified(followed, name);
            QByteArray link(qsizetype(st.st_size > 0 ? st.st_size : 4095) + 1, '\0');
            const ssize_t n = ::readlink(name.constData(), link.data(), size_t(link.size()));
            if (n < 0)
                return refused(errno);
            if (n >= link.size()) // changed meanwhile: look again
                continue;
            link.truncate(n);
            name = link.startsWith('/') ? link : parentOf(name) + '/' + link;
            continue;
        }
        return classified(st, name);
    }
    return refused(ELOOP);
}

bool writeToStream(const OutputTarget& target, const QByteArray& data)
{
    const int fd = openStream(target);
    if (fd < 0)
        return false;
    return closeStream(fd, writeAll(fd, data.constData(), data.size()));
}

SaveResult saveOutputFile(const QString& path, const QByteArray& data, bool directWriteFallback)
{
    SaveResult result;
    const OutputTarget target = resolveOutputTarget(path);
    switch (target.kind) {
    case OutputTarget::Kind::Refused:
        result.error = target.reason;
        return result;
    case OutputTarget::Kind::Stream:
        result.opened = true;
        result.saved = writeToStream(target, data);
        if (!result.saved)
            result.error = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    case OutputTarget::Kind::File:
        break;
    }
    QSaveFile file(target.path);
    file.setDirectWriteFallback(directWriteFallback);
    result.opened = file.open(QIODevice::WriteOnly);
    result.saved = result.opened && file.write(data) == data.size() && file.commit();
    if (!result.saved)
        result.error = file.errorString();
    return result;
}

OutputFile::OutputFile(const QString& target)
{
    if (target == kStandardOutput)
        m_target = OutputTarget{OutputTarget::Kind::Stream, kStandardOutput, 0, {}};
    else
        m_target = resolveOutputTarget(target);
    switch (m_target.kind) {
    case OutputTarget::Kind::Refused:
        break;
    case OutputTarget::Kind::File: {
        const QFileInfo info(m_target.path);
        m_work = info.absoluteDir().filePath(QStringLiteral(".%1.part-%2")
                                                 .arg(info.fileName())
                                                 .arg(QCoreApplication::applicationPid()));
        break;
    }
    case OutputTarget::Kind::Stream:
        m_temp = std::make_unique<QTemporaryFile>(QDir::tempPath() +
                                                  QStringLiteral("/tarnyx-output-XXXXXX"));
        if (m_temp->open()) {
            m_work = m_temp->fileName();
            m_temp->close();
        }
        break;
    }
}

OutputFile::~OutputFile()
{
    if (!m_work.isEmpty())
        ::unlink(encodeFileName(m_work).constData());
}

bool OutputFile::commit()
{
    if (m_work.isEmpty()) {
        errno = m_target.error ? m_target.error : EINVAL;
        return false;
    }
    const QByteArray work = encodeFileName(m_work);
    if (m_target.kind == OutputTarget::Kind::File) {
        if (::rename(work.constData(), encodeFileName(m_target.path).constData()) != 0)
            return false;
        m_work.clear();
        return true;
    }
    const int in = ::open(work.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = openStream(m_target);
    if (out < 0) {
        const int e = errno;
        ::close(in);
        errno = e;
        return false;
    }
    const bool ok = copyAll(in, out);
    const int e = errno;
    ::close(in);
    errno = e;
    return closeStream(out, ok);
}

} // namespace platform

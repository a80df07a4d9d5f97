#include "core/platform/OutputFile.h"

#include "core/platform/FileName.h"
#include "core/platform/OwnFile.h"
#include "core/platform/WholeFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

constexpr int kMaxLinks = 40; // as the kernel allows in one path

const QString kStandardOutput = QStringLiteral("-");

// `error` as text; errno stays as it is, for the callers that report it.
QString errorText(int error)
{
    const int kept = errno;
    QString text = QString::fromLocal8Bit(std::strerror(error));
    errno = kept;
    return text;
}

OutputTarget refused(int error, const QString& reason = {})
{
    OutputTarget t;
    t.error = error;
    t.reason = reason.isEmpty() ? errorText(error) : reason;
    return t;
}

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

// How a name that holds `st` is written. Into a stream of another user's, a file of the program's
// own (`ownFile`) is never written: it is replaced like a file.
OutputTarget classified(const struct stat& st, const QByteArray& name, bool ownFile)
{
    if (S_ISREG(st.st_mode) || (ownFile && !trustedOwner(st.st_uid)))
        return OutputTarget{OutputTarget::Kind::File, decodeFileName(name), 0, {}};
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))
        return OutputTarget{OutputTarget::Kind::Stream, decodeFileName(name), 0, {}};
    if (S_ISDIR(st.st_mode))
        return refused(EISDIR);
    return refused(EINVAL, QStringLiteral("not a regular file, FIFO or character device"));
}

// Closes `fd` after work that ended `ok`; false with errno set when the work or the close failed.
bool closeFile(int fd, bool ok)
{
    const int e = errno;
    const bool closed = ::close(fd) == 0;
    if (!ok)
        errno = e;
    return ok && closed;
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
    return fd == STDOUT_FILENO ? ok : closeFile(fd, ok);
}

// How the work file beside a target is named.
enum class WorkName
{
    Shared,  // NAME.tmp: one for every writer of the file, who hold a lock around it
    Private, // .NAME.part-XXXXXX, a new name for each writer
};

// Creates the work file for the regular file (or free name) `target`, with `mode` less the umask;
// -1 with errno set. It is always a new file: never one that is there already (a link, or another
// name of some file, planted where others may write), so that nothing is written through it.
int makeWorkFile(const QByteArray& target, WorkName naming, mode_t mode, QByteArray& work)
{
    constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    if (naming == WorkName::Shared) {
        work = target + ".tmp";
        // Left by a writer that was killed (or planted): removed, so that a new one can be made.
        ::unlink(work.constData());
        return ::open(work.constData(), flags, mode);
    }
    const qsizetype slash = target.lastIndexOf('/');
    for (int attempt = 0; attempt < 100; ++attempt) {
        work = target.left(slash + 1) + '.' + target.mid(slash + 1) + ".part-" +
               QByteArray::number(QRandomGenerator::system()->generate(), 36);
        const int fd = ::open(work.constData(), flags, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Ends the work file `fd`: when it was `written` whole, syncs it, renames it over `target` and
// syncs the folder, so that the rename too survives a crash. Otherwise, or when one of these
// fails, the work file is removed and the target keeps its content; false with errno set.
bool putInPlace(int fd, const QByteArray& work, const QByteArray& target, bool written)
{
    int error = 0;
    if (!written || ::fsync(fd) != 0)
        error = errno ? errno : EIO;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(work.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(work.constData());
        errno = error;
        return false;
    }
    const int dir = ::open(parentOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

// Rewrites the regular file `name` itself, for a folder that cannot take a work file. What goes
// beyond the old end is written first and cut off again when that fails, so that a full disk
// stops the write before an old byte is overwritten.
// A file of the program's own (`ownFile`) is made with mode 0600 and only written while it is this
// user's (or root's), never into a file another user planted.
SaveResult rewriteInPlace(const QByteArray& name, const QByteArray& data, bool ownFile)
{
    SaveResult result;
    int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                    ownFile ? 0600 : 0666);
    struct stat st;
    if (fd >= 0 &&
        (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (ownFile && !trustedOwner(st.st_uid)))) {
        ::close(fd);
        fd = -1;
        errno = EPERM;
    }
    result.opened = fd >= 0;
    if (result.opened) {
        bool ok = ::fcntl(fd, F_SETFL, 0) == 0;
        const qint64 head = ok ? std::min<qint64>(st.st_size, data.size()) : 0;
        if (ok && (::lseek(fd, head, SEEK_SET) != head ||
                   !writeAll(fd, data.constData() + head, data.size() - head))) {
            const int e = errno;
            // Best effort: the old bytes are untouched either way.
            [[maybe_unused]] const bool cutBack = ::ftruncate(fd, st.st_size) == 0;
            errno = e;
            ok = false;
        }
        ok = ok && ::lseek(fd, 0, SEEK_SET) == 0 && writeAll(fd, data.constData(), head) &&
             ::ftruncate(fd, data.size()) == 0 && ::fsync(fd) == 0;
        result.saved = closeFile(fd, ok);
    }
    if (!result.saved)
        result.error = errorText(errno);
    return result;
}

// Replaces a File target with `data` through a work file named `naming`: a file of the program's
// own (`ownFile`) ends with mode 0600, a file chosen by the user keeps its permissions. A file
// with a work file of its own (Private) is not replaced when the user may not write it. Stream
// targets are written in place. Failures leave errno set.
SaveResult replaceFile(const QString& path, const QByteArray& data, WorkName naming, bool ownFile,
                       bool directWriteFallback)
{
    SaveResult result;
    const OutputTarget target = resolveOutputTarget(path, ownFile);
    switch (target.kind) {
    case OutputTarget::Kind::Refused:
        errno = target.error;
        result.error = target.reason;
        return result;
    case OutputTarget::Kind::Stream:
        result.opened = true;
        result.saved = writeToStream(target, data);
        if (!result.saved)
            result.error = errorText(errno);
        return result;
    case OutputTarget::Kind::File:
        break;
    }
    const QByteArray name = encodeFileName(target.path);
    struct stat old;
    const bool exists = naming == WorkName::Private && ::lstat(name.constData(), &old) == 0;
    if (exists && !S_ISLNK(old.st_mode) && ::access(name.constData(), W_OK) != 0) {
        result.error = QStringLiteral("Existing file %1 is not writable").arg(target.path);
        return result;
    }
    // Readable by no one else until it takes on the old file's permissions.
    QByteArray work;
    const int fd = makeWorkFile(name, naming, (ownFile || exists) ? 0600 : 0666, work);
    if (fd < 0 && errno == EACCES && directWriteFallback)
        return rewriteInPlace(name, data, ownFile);
    result.opened = fd >= 0;
    if (result.opened && exists && !ownFile)
        ::fchmod(fd, old.st_mode & 0777);
    result.saved =
        result.opened && putInPlace(fd, work, name, writeAll(fd, data.constData(), data.size()));
    if (!result.saved)
        result.error = errorText(errno);
    return result;
}

} // namespace

OutputTarget resolveOutputTarget(const QString& path, bool ownFile)
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
        if (S_ISLNK(st.st_mode) && ownFile && !trustedOwner(st.st_uid)) {
            // Another user's link: the file replaces the link itself, where it leads stays.
            return OutputTarget{OutputTarget::Kind::File, decodeFileName(name), 0, {}};
        }
        if (S_ISLNK(st.st_mode)) {
            // What the link leads to decides; only a file needs the name at the end of the
            // chain, to be renamed over. A stream is opened through the link, which also serves
            // the links of /proc (/dev/stdout to a pipe) that name no path.
            struct stat followed;
            if (::stat(name.constData(), &followed) == 0 && !S_ISREG(followed.st_mode) &&
                !(ownFile && !trustedOwner(followed.st_uid)))
                return classified(followed, name, ownFile);
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
        return classified(st, name, ownFile);
    }
    return refused(ELOOP);
}

QString ownFileLockPath(const QString& path)
{
    const OutputTarget target = resolveOutputTarget(path, true);
    return (target.path.isEmpty() ? path : target.path) + QStringLiteral(".lock");
}

bool writeToStream(const OutputTarget& target, const QByteArray& data)
{
    const int fd = openStream(target);
    if (fd < 0)
        return false;
    return closeStream(fd, writeAll(fd, data.constData(), data.size()));
}

bool replaceWholeFile(const QString& path, const QByteArray& data)
{
    return replaceFile(path, data, WorkName::Shared, true, false).saved;
}

SaveResult saveOutputFile(const QString& path, const QByteArray& data, bool directWriteFallback)
{
    return replaceFile(path, data, WorkName::Private, false, directWriteFallback);
}

SaveResult replaceOwnFile(const QString& path, const QByteArray& data, bool directWriteFallback)
{
    return replaceFile(path, data, WorkName::Private, true, directWriteFallback);
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
        QByteArray work;
        m_fd = makeWorkFile(encodeFileName(m_target.path), WorkName::Private, 0666, work);
        if (m_fd >= 0) {
            m_work = decodeFileName(work);
            const QString byFile = QStringLiteral("/proc/self/fd/%1").arg(m_fd);
            m_writePath = QFileInfo::exists(byFile) ? byFile : m_work;
        } else {
            m_error = errorText(errno);
        }
        break;
    }
    case OutputTarget::Kind::Stream:
        m_temp = std::make_unique<QTemporaryFile>(QDir::tempPath() +
                                                  QStringLiteral("/tarnyx-output-XXXXXX"));
        if (m_temp->open()) {
            m_work = m_temp->fileName();
            m_writePath = m_work;
            m_temp->close();
        } else {
            m_error = m_temp->errorString();
        }
        break;
    }
}

OutputFile::~OutputFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
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
        const int fd = std::exchange(m_fd, -1);
        m_work.clear(); // put in place or removed
        m_writePath.clear();
        // Only the file made here is put in place: another user who may write the folder could
        // have given its name to a file of theirs, which is left alone.
        struct stat held;
        struct stat named;
        if (::fstat(fd, &held) != 0 || ::lstat(work.constData(), &named) != 0 ||
            held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
            ::close(fd);
            errno = EEXIST;
            return false;
        }
        return putInPlace(fd, work, encodeFileName(m_target.path), true);
    }
    const int in = ::open(work.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = openStream(m_target);
    const bool ok = out >= 0 && closeStream(out, copyAll(in, out));
    closeFile(in, ok); // keeps errno of a failure; the input's own close does not count
    return ok;
}

} // namespace platform

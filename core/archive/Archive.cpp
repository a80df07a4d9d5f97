#include "core/archive/Archive.h"

#include "core/platform/FileInfo.h"
#include "core/platform/FileName.h"
#include "core/platform/WholeFile.h"
#include "core/report/CodePages.h"
#include "core/report/ReportHeader.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The name of a spool directory's archive.
QString archiveName()
{
    return QStringLiteral("BAKPRN");
}

// Bytes the character takes in a file name (file names are UTF-8 on this platform). Windows-1250
// text never yields surrogates, so every character is one code point.
qsizetype utf8Length(QChar ch)
{
    const char16_t u = ch.unicode();
    return u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
}

qsizetype utf8Length(const QString& text)
{
    qsizetype n = 0;
    for (QChar ch : text)
        n += utf8Length(ch);
    return n;
}

// Drops characters from the end of `part` until it takes at most `budget` bytes.
void shortenTo(QString& part, qsizetype budget)
{
    qsizetype bytes = utf8Length(part);
    while (!part.isEmpty() && bytes > budget) {
        bytes -= utf8Length(part.back());
        part.chop(1);
    }
}

// The date and time come from the report's header, i.e. from outside. They become part of a
// single file name inside the archive directory, so a path separator must not survive in them
// (it would place the file elsewhere, "../" even outside the archive), nor a NUL (it would cut the
// name short).
QString headerPart(QByteArrayView text)
{
    QString part = cp1250ToUnicode(text);
    for (QChar& ch : part) {
        if (ch == u'/' || ch == QChar(0))
            ch = u'_';
    }
    return part;
}

void syncDirectory(const QByteArray& dir)
{
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Moves a file to another file system: a complete, synced copy replaces the target in one rename
// before the source is removed, so at every moment at least one whole copy of the report exists.
bool moveAcross(const QByteArray& source, const QByteArray& target, const QByteArray& dir)
{
    const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (in < 0)
        return false;
    struct stat st;
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return false;
    }
    QByteArray temp = dir + "/.tarnyx-archive-XXXXXX";
    const int out = ::mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = platform::copyAll(in, out);
    // Keep what the archive browser shows of the file: its permissions and its time stamp.
    if (ok) {
        ::fchmod(out, st.st_mode & 07777);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
        ok = ::fsync(out) == 0;
    }
    ::close(in);
    ok = ::close(out) == 0 && ok;
    if (!ok || ::rename(temp.constData(), target.constData()) != 0) {
        ::unlink(temp.constData());
        return false;
    }
    syncDirectory(dir);
    // The archived copy is durable; should the source now refuse to go, the move has failed all
    // the same: the report stays and is not printed again on its own.
    return ::unlink(source.constData()) == 0;
}

// The archived file is writable for its owner and, where the file system offers it, compressed.
// Both are conveniences: a refusal leaves a valid archived report.
void finishArchivedFile(const QByteArray& path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    if ((st.st_mode & S_IWUSR) == 0)
        ::chmod(path.constData(), (st.st_mode & 07777) | S_IWUSR);

    const int fd =
        ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return;
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_COMPR_FL) == 0) {
        flags |= FS_COMPR_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    ::close(fd);
}

} // namespace

QString spoolArchive(const QString& spoolDirectory)
{
    return platform::includeTrailingPathDelimiter(spoolDirectory) + archiveName();
}

QString archiveDirectory(const QString& reportPath)
{
    return spoolArchive(QFileInfo(reportPath).path());
}

bool isArchiveDirectory(const QString& directory)
{
    return directory.endsWith(archiveName(), Qt::CaseInsensitive);
}

QString archivedName(const ReportHeader& header)
{
    QString date = headerPart(header.dateText);
    QString time = headerPart(header.timeText.left(6));
    const QString name = QFileInfo(header.fileName).fileName();
    // An overlong header field would make the name too long for the file system, the move would
    // fail every time and the report would be printed over and over. The date gives way first;
    // a well-formed header is far below the limit.
    const qsizetype fixed = 2 + utf8Length(name);
    shortenTo(date, NAME_MAX - fixed - utf8Length(time));
    shortenTo(time, NAME_MAX - fixed - utf8Length(date));
    return date + u'-' + time + u'-' + name;
}

DisposeResult disposeReport(const ReportHeader& header, bool erase,
                            const platform::FileIdentity* printed)
{
    auto failed = [] {
        return DisposeResult{DisposeResult::Failed, errno};
    };
    if (header.fileName.isEmpty())
        return DisposeResult{DisposeResult::Gone, 0};
    const QByteArray source = platform::encodeFileName(header.fileName);
    if (printed) {
        // Between this look and the rename below another program could still replace the file;
        // that window is a few microseconds, against the minutes a report takes to print.
        const std::optional<platform::FileIdentity> now = platform::identityOf(header.fileName);
        if (!now)
            return DisposeResult{DisposeResult::Gone, 0};
        if (!(*now == *printed))
            return DisposeResult{DisposeResult::Replaced, 0};
    }
    if (erase) {
        if (::unlink(source.constData()) != 0)
            return errno == ENOENT ? DisposeResult{DisposeResult::Gone, 0} : failed();
        return {};
    }

    const QString dir = archiveDirectory(header.fileName);
    const QByteArray nativeDir = platform::encodeFileName(dir);
    if (::mkdir(nativeDir.constData(), 0777) != 0) {
        struct stat st;
        if (errno != EEXIST)
            return failed();
        if (::stat(nativeDir.constData(), &st) != 0)
            return failed();
        if (!S_ISDIR(st.st_mode))
            return DisposeResult{DisposeResult::Failed, ENOTDIR};
    }
    const QByteArray target = platform::encodeFileName(dir + u'/' + archivedName(header));

    // One rename replaces an archived report of the same name: there is no moment at which
    // neither the older archived report nor the newer one exists.
    if (::rename(source.constData(), target.constData()) != 0) {
        // The archive directory may be a link or mount point on another file system.
        if (errno != EXDEV)
            return failed();
        if (!moveAcross(source, target, nativeDir))
            return failed();
    }
    finishArchivedFile(target);
    return {};
}

#include "core/archive/Archive.h"

#include "core/platform/FileDescriptor.h"
#include "core/platform/FileInfo.h"
#include "core/platform/FileName.h"
#include "core/platform/OwnFile.h"
#include "core/platform/WholeFile.h"
#include "core/report/CodePages.h"
#include "core/report/ReportHeader.h"

#include <QByteArray>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdio>
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

DisposeResult failed(int error = errno)
{
    return DisposeResult{DisposeResult::Failed, error, {}};
}

DisposeResult gone()
{
    return DisposeResult{DisposeResult::Gone, 0, {}};
}

DisposeResult replaced()
{
    return DisposeResult{DisposeResult::Replaced, 0, {}};
}

DisposeResult refused(const QString& why, const QString& archive)
{
    return DisposeResult{DisposeResult::Refused, EPERM, why.arg(archive)};
}

// A name for a file on its way into the archive, hidden from the archive's listing.
QByteArray temporaryName()
{
    return ".tarnyx-archive-" +
           QByteArray::number(QRandomGenerator::system()->generate64(), 36).rightJustified(13, '0');
}

// The archived file is writable for its owner and nobody else, and, where the file system offers
// it, compressed. Both are conveniences: a refusal leaves a valid archived report.
void finishArchivedFile(int archive, const QByteArray& name)
{
    const platform::FileDescriptor fd(::openat(
        archive, name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    const mode_t mode = ((st.st_mode & 07777) | S_IWUSR) & ~mode_t(S_IWGRP | S_IWOTH);
    if (mode != (st.st_mode & 07777))
        ::fchmod(fd.get(), mode);
    int flags = 0;
    if (::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_COMPR_FL) == 0) {
        flags |= FS_COMPR_FL;
        ::ioctl(fd.get(), FS_IOC_SETFLAGS, &flags);
    }
}

// Opens the spool directory's archive, made when missing. Reports go only where no other user can
// take them out again: into a folder of this user or of root that nobody else may write to. A
// link there (the user's way of keeping the archive on another disk) is followed only when this
// user or root made it; another user's link could lead anywhere.
DisposeResult openArchive(int spool, const QString& path, platform::FileDescriptor& archive)
{
    const QByteArray name = platform::encodeFileName(archiveName());
    if (::mkdirat(spool, name.constData(), 0755) != 0 && errno != EEXIST)
        return failed();
    archive.reset(platform::openDirectoryAt(spool, name.constData()));
    if (!archive.valid()) {
        struct stat link;
        if (::fstatat(spool, name.constData(), &link, AT_SYMLINK_NOFOLLOW) != 0)
            return failed();
        if (!S_ISLNK(link.st_mode))
            return failed(ENOTDIR);
        if (!platform::trustedOwner(link.st_uid))
            return refused(QStringLiteral("Složka archivu %1 je odkaz jiného uživatele."), path);
        archive.reset(::openat(spool, name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!archive.valid())
            return failed();
    }
    struct stat st;
    if (::fstat(archive.get(), &st) != 0)
        return failed();
    if (!platform::trustedOwner(st.st_uid))
        return refused(QStringLiteral("Složka archivu %1 patří jinému uživateli."), path);
    if (platform::writableByOthers(st))
        return refused(QStringLiteral("Do složky archivu %1 mohou zapisovat i jiní uživatelé."),
                       path);
    return {};
}

// Copies the report to another file system: a complete, synced copy replaces the target in one
// rename before the report's name is removed, so at every moment at least one whole copy exists.
// The copy is read from the file opened under the report's name, never through a link, and only
// when it is the very file `report` describes; it is no wider open than the report was and
// writable by its owner alone.
DisposeResult copyAcross(int spool, const QByteArray& name, int archive, const QByteArray& target,
                         const platform::FileIdentity& report)
{
    const platform::FileDescriptor in(::openat(
        spool, name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    if (!in.valid())
        return errno == ENOENT ? gone() : errno == ELOOP ? replaced() : failed();
    struct stat st;
    if (::fstat(in.get(), &st) != 0)
        return failed();
    if (!S_ISREG(st.st_mode) || !(platform::identityOf(st) == report))
        return replaced();

    QByteArray temp;
    platform::FileDescriptor out;
    for (int attempt = 0; attempt < 100 && !out.valid(); ++attempt) {
        temp = temporaryName();
        out.reset(::openat(archive, temp.constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out.valid() && errno != EEXIST)
            break;
    }
    if (!out.valid())
        return failed();
    bool ok = platform::copyAll(in.get(), out.get());
    int error = errno;
    // Keep what the archive browser shows of the file: its permissions and its time stamp.
    if (ok) {
        ::fchmod(out.get(), st.st_mode & 0755);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.get(), times);
        ok = ::fsync(out.get()) == 0;
        error = errno;
    }
    if (!out.close() && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::renameat(archive, temp.constData(), archive, target.constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlinkat(archive, temp.constData(), 0);
        return failed(error);
    }
    ::fsync(archive);
    // The archived copy is durable. The report's name goes only while it still names the printed
    // file; should it then refuse to go, the move has failed all the same: the report stays and
    // is not printed again on its own.
    struct stat now;
    if (::fstatat(spool, name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? DisposeResult{} : failed();
    if (!(platform::identityOf(now) == report))
        return replaced();
    if (::unlinkat(spool, name.constData(), 0) != 0)
        return failed();
    return {};
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
    if (header.fileName.isEmpty())
        return gone();
    const QFileInfo info(header.fileName);
    const QByteArray name = platform::encodeFileName(info.fileName());
    // Everything below works on the spool directory and the archive as opened here, and never
    // follows a link in the report's place.
    const platform::FileDescriptor spool(::open(platform::encodeFileName(info.path()).constData(),
                                                O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!spool.valid())
        return errno == ENOENT ? gone() : failed();
    struct stat st;
    if (::fstatat(spool.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? gone() : failed();
    const platform::FileIdentity found = platform::identityOf(st);
    if (printed && !(found == *printed))
        return replaced();
    if (!S_ISREG(st.st_mode))
        return failed(S_ISDIR(st.st_mode) ? EISDIR : ELOOP);
    if (erase) {
        if (::unlinkat(spool.get(), name.constData(), 0) != 0)
            return errno == ENOENT ? gone() : failed();
        return {};
    }

    platform::FileDescriptor archive;
    const DisposeResult opened =
        openArchive(spool.get(), archiveDirectory(header.fileName), archive);
    if (opened.outcome != DisposeResult::Disposed)
        return opened;
    const QByteArray target = platform::encodeFileName(archivedName(header));

    // The report moves under a name of its own first and is looked at there: should another
    // program have put something else under the report's name since the look above, that goes
    // back and nothing is archived.
    const QByteArray temp = temporaryName();
    if (::renameat(spool.get(), name.constData(), archive.get(), temp.constData()) != 0) {
        if (errno == ENOENT)
            return gone();
        // The archive may be a link or mount point on another file system.
        if (errno != EXDEV)
            return failed();
        const DisposeResult copied = copyAcross(spool.get(), name, archive.get(), target, found);
        if (copied.outcome == DisposeResult::Disposed)
            finishArchivedFile(archive.get(), target);
        return copied;
    }
    struct stat moved;
    if (::fstatat(archive.get(), temp.constData(), &moved, AT_SYMLINK_NOFOLLOW) != 0 ||
        !(platform::identityOf(moved) == found)) {
        ::renameat2(archive.get(), temp.constData(), spool.get(), name.constData(),
                    RENAME_NOREPLACE);
        return replaced();
    }
    // One rename replaces an archived report of the same name: there is no moment at which
    // neither the older archived report nor the newer one exists.
    if (::renameat(archive.get(), temp.constData(), archive.get(), target.constData()) != 0) {
        const int error = errno;
        ::renameat2(archive.get(), temp.constData(), spool.get(), name.constData(),
                    RENAME_NOREPLACE);
        return failed(error);
    }
    finishArchivedFile(archive.get(), target);
    return {};
}

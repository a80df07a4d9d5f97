#include "core/platform/FileInfo.h"

#include "core/platform/FileName.h"

#include <QFile>

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace platform {

namespace {

quint32 pack(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1980)
        return (1u << 5 | 1u) << 16; // 1 January 1980, 00:00:00
    if (year > 2107)
        return quint32((127u << 9 | 12u << 5 | 31u) << 16 | (23u << 11 | 59u << 5 | 29u));
    const quint32 date = quint32(year - 1980) << 9 | quint32(month) << 5 | quint32(day);
    const quint32 time = quint32(hour) << 11 | quint32(minute) << 5 | quint32(second / 2);
    return date << 16 | time;
}

} // namespace

quint32 dosDateTime(const QDateTime& local)
{
    const QDate d = local.date();
    const QTime t = local.time();
    return pack(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

quint32 dosDateTimeFromUnix(qint64 secondsSinceEpoch)
{
    const time_t when = time_t(secondsSinceEpoch);
    struct tm tm;
    if (!::localtime_r(&when, &tm))
        return pack(1979, 1, 1, 0, 0, 0);
    return pack(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                std::min(tm.tm_sec, 59));
}

std::optional<FoundFile> findFile(const QString& path)
{
    struct stat st;
    if (::stat(encodeFileName(path).constData(), &st) != 0)
        return std::nullopt;
    return FoundFile{qint64(st.st_size), dosDateTimeFromUnix(st.st_mtim.tv_sec)};
}

FileIdentity identityOf(const struct stat& st)
{
    return FileIdentity{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
                        qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::optional<FileIdentity> identityOf(const QString& path)
{
    struct stat st;
    if (::lstat(encodeFileName(path).constData(), &st) != 0)
        return std::nullopt;
    return identityOf(st);
}

namespace {

bool statIs(const QString& path, mode_t kind)
{
    struct stat st;
    return ::stat(encodeFileName(path).constData(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
}

} // namespace

bool isDirectory(const QString& path)
{
    return statIs(path, S_IFDIR);
}

bool isRegularFile(const QString& path)
{
    return statIs(path, S_IFREG);
}

bool removeFile(const QString& path)
{
    return ::unlink(encodeFileName(path).constData()) == 0;
}

QString includeTrailingPathDelimiter(const QString& path)
{
    return path.endsWith(u'/') ? path : path + u'/';
}

} // namespace platform

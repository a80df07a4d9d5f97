#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

struct stat;

namespace platform {

// What a directory search tells about one file.
struct FoundFile
{
    qint64 size = 0;
    quint32 dosTime = 0; // last write, local time, packed as DOS date-time
};

// Which file a path named at one moment: a report printed from a path is disposed of only while
// the path still names that very file, not one written over it meanwhile.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 mtimeNs = 0; // last write, nanoseconds since the epoch
    bool operator==(const FileIdentity&) const = default;
};
FileIdentity identityOf(const struct stat& st);
// The identity of what `path` names itself (a symbolic link is not followed); nullopt when
// nothing is there.
std::optional<FileIdentity> identityOf(const QString& path);

// What `path` names, a symbolic link followed: a directory, a plain file. False when nothing is
// there.
bool isDirectory(const QString& path);
bool isRegularFile(const QString& path);
// Deletes the file (never a directory); false with errno set when it cannot.
bool removeFile(const QString& path);

// The directory with a trailing "/" (a lone "/" for an empty text).
QString includeTrailingPathDelimiter(const QString& path);

// Looks one file up by its path; nullopt when it is not there.
std::optional<FoundFile> findFile(const QString& path);

// The 32-bit DOS form of a local date and time: date in the high 16 bits (years since 1980,
// month, day), time in the low 16 bits (hours, minutes, seconds / 2). Times before 1980 or after
// 2107 are clamped to the first and last representable moment.
quint32 dosDateTime(const QDateTime& local);
quint32 dosDateTimeFromUnix(qint64 secondsSinceEpoch);

} // namespace platform

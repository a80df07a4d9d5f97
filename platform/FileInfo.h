#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace platform {

// What a directory search tells about one file.
struct FoundFile
{
    qint64 size = 0;
    quint32 dosTime = 0; // last write, local time, packed as DOS date-time
};

// The directory with a trailing "/" (a lone "/" for an empty text).
QString IncludeTrailingPathDelimiter(const QString& path);

// Looks one file up by its path; nullopt when it is not there.
std::optional<FoundFile> findFile(const QString& path);

// The 32-bit DOS form of a local date and time: date in the high 16 bits (years since 1980,
// month, day), time in the low 16 bits (hours, minutes, seconds / 2). Times before 1980 or after
// 2107 are clamped to the first and last representable moment.
quint32 dosDateTime(const QDateTime& local);
quint32 dosDateTimeFromUnix(qint64 secondsSinceEpoch);

} // namespace platform

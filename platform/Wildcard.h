#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// Matches a file name against a pattern the way the desktop's file search does: "?" stands for
// at most one character, "*" for any run of characters, letters match without regard to case.
bool WildcardMatch(QStringView pattern, QStringView name);

// The entries of a directory whose names match `pattern`, in the order the file system
// enumerates them (not sorted), files and subdirectories alike.
struct DirEntry
{
    QString name;
    qint64 size = 0; // 0 for a subdirectory
    bool isDir = false;
};
QList<DirEntry> FindMatches(const QString& directory, const QString& pattern);

} // namespace platform

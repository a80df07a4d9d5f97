#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// Matches a file name against a pattern the way the desktop's file search does: "?" stands for
// at most one character, "*" for any run of characters, letters match without regard to case.
bool wildcardMatch(QStringView pattern, QStringView name);

// The entries of a directory whose names match `pattern`, in the order the file system
// enumerates them (not sorted), files, subdirectories and every other kind of entry alike.
// Symbolic links are not followed: a link is described as itself.
struct DirEntry
{
    QString name;
    qint64 size = 0; // 0 for anything but a regular file
    bool isDir = false;
    bool isRegular = false; // a plain file: neither directory, link, pipe, socket nor device
    qint64 mtimeSec = 0;    // last write, seconds since the epoch
};
QList<DirEntry> findMatches(const QString& directory, const QString& pattern);

} // namespace platform

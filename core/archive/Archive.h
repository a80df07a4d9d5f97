#pragma once

#include "core/platform/FileInfo.h"

#include <QString>

struct ReportHeader;

// The archive of a spool directory: its subdirectory BAKPRN.
QString spoolArchive(const QString& spoolDirectory);
// The archive of the spool directory a report lies in.
QString archiveDirectory(const QString& reportPath);
// True when a directory's path ends in the archive's name (letter case ignored).
bool isArchiveDirectory(const QString& directory);
// The name a report gets in the archive: date, "-", time to the second, "-", its own file name,
// e.g. 20240131-081530-LST00001.PRN.
QString archivedName(const ReportHeader& header);

// Takes a printed report out of its spool directory: deleted when `erase` is set, otherwise moved
// into the archive under its archived name, replacing an older archived report of that name in
// one step; the archived file is writable by its owner alone and marked for compression where
// the file system offers it. A failure leaves the report where it is.
//
// Only a plain file is disposed of, never a link in its place or what a link leads to; on another
// file system the archive gets a copy of the very file found under the report's name. The
// archive takes reports only when no other user can take them out again: it must be a folder of
// this user or of root that nobody else may write to, reached, if at all, through a link of this
// user or of root; otherwise the report stays and `reason` says why.
//
// With `printed` given, the report's path is disposed of only while it still names that file:
// a report written over the printed one meanwhile is left alone, to be printed in its turn.
struct DisposeResult
{
    enum Outcome
    {
        Disposed,
        Gone,     // nothing is at the path any more
        Replaced, // the path names another file than the one printed
        Failed,   // errno in `error`
        Refused   // the archive could give the report away; `reason` says how
    };
    Outcome outcome = Disposed;
    int error = 0;
    QString reason; // in the user's language
};
DisposeResult disposeReport(const ReportHeader& header, bool erase,
                            const platform::FileIdentity* printed = nullptr);

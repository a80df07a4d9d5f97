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
// one step; the archived file loses its read-only mark and is marked for compression where the
// file system offers it. A failure leaves the report where it is.
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
        Failed    // errno in `error`
    };
    Outcome outcome = Disposed;
    int error = 0;
};
DisposeResult disposeReport(const ReportHeader& header, bool erase,
                            const platform::FileIdentity* printed = nullptr);

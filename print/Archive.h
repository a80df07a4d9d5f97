#pragma once

#include <QString>

class TLstObj;

// The archive of a spool directory: its subdirectory BAKPRN.
QString ArchiveDirectory(const QString& reportPath);
// The name a report gets in the archive: date, "-", time to the second, "-", its own file name,
// e.g. 20240131-081530-LST00001.PRN.
QString ArchivedName(const TLstObj& header);

// Takes a printed report out of its spool directory: deleted when `erase` is set, otherwise moved
// into the archive under its archived name, replacing an older archived report of that name in
// one step; the archived file loses its read-only mark and is marked for compression where the
// file system offers it. Failures leave the report where it is (the controller then offers it
// again); none is reported.
void DisposeReport(const TLstObj& header, bool erase);

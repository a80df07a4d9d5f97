#pragma once

#include "core/report/ReportHeader.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// What the archive browser shows, without any window: the archive directories named by the
// spool directory list, the archived reports found in one of them, sorted and grouped into years
// and months.

// The owned headers of the reports of one archive directory.
using ArchivedReports = std::vector<std::unique_ptr<ReportHeader>>;

// The twelve month captions "Leden" to "Prosinec", built once.
const QStringList& monthNames();
// The caption of month 1 to 12; empty for any other number.
QString monthCaption(int month);

// The archive directory of every entry of a spool directory list: the list is split at ";" (a
// run of ";" is one separator, entries are not trimmed), each entry gets a trailing "/" when it
// has none, then "BAKPRN". Directories that do not exist are listed too.
QStringList archiveDirectories(const QString& directories);

// True for the name of an archived report: eight characters, "-", six characters, "-",
// "LST", five characters, ".PRN"; letters compare without regard to case.
bool isArchivedReportName(QStringView name);

// The full paths of the archived reports in `directory`, by name; none when it does not exist.
QStringList archivedReportPaths(const QString& directory);

// Reads the header of every archived report in `directory` (in listing order); files whose
// header cannot be read or is not valid are left out. The result is sorted (sortReports).
ArchivedReports scanArchiveDirectory(const QString& directory);

// Orders reports by year, month, title (byte by byte) and creation time.
bool reportBefore(const ReportHeader& a, const ReportHeader& b);
void sortReports(ArchivedReports& reports);

// Sorted reports grouped by year and, within a year, by month; the reports are not owned.
struct MonthGroup
{
    int month = 0;
    std::vector<const ReportHeader*> reports;
};
struct YearGroup
{
    int year = 0;
    std::vector<MonthGroup> months;
};
std::vector<YearGroup> groupReports(const ArchivedReports& sorted);

// The name of the organisation whose reports an archive directory holds; empty when none is
// known.
QString organisationName(const QString& archiveDirectory);

// A report's creation time as the desktop writes a short date and a long time (without a time
// zone); midnight shows the date alone.
QString createdText(const ReportDateTime& created);

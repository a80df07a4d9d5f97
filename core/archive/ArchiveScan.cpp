#include "core/archive/ArchiveScan.h"

#include "core/archive/Archive.h"
#include "core/config/AppSettings.h"
#include "core/platform/FileName.h"

#include <QLocale>
#include <QRegularExpression>

#include <QFile>

#include <algorithm>
#include <dirent.h>
#include <system_error>
#include <thread>

namespace {

// The month names as one text, as translators keep it.
constexpr char16_t kMonthNamesText[] =
    u"Leden,Únor,Březen,Duben,Květen,Červen,Červenec,Srpen,Září,Říjen,Listopad,Prosinec";

QStringList buildMonthNames()
{
    QStringList names = QString::fromUtf16(kMonthNamesText).split(u',');
    if (names.size() != 12) {
        // A text that does not name twelve months gives the month numbers instead.
        names.clear();
        for (int m = 1; m <= 12; ++m)
            names << QStringLiteral("%1").arg(m, 2, 10, QLatin1Char('0'));
    }
    return names;
}

// "?" is exactly one character; every other pattern character is a letter or sign compared
// without regard to case.
constexpr char16_t kArchivedNamePattern[] = u"????????"
                                            u"-??????"
                                            u"-LST?????.PRN";

// Directories with fewer reports are read by the calling thread alone.
constexpr size_t kParallelFrom = 64;

} // namespace

const QStringList& monthNames()
{
    static const QStringList names = buildMonthNames();
    return names;
}

QString monthCaption(int month)
{
    return month >= 1 && month <= 12 ? monthNames().at(month - 1) : QString();
}

QStringList archiveDirectories(const QString& directories)
{
    QStringList result;
    for (const QString& entry : spoolDirectoryList(directories))
        result << spoolArchive(entry);
    return result;
}

bool isArchivedReportName(QStringView name)
{
    const QStringView pattern(kArchivedNamePattern);
    if (name.size() != pattern.size())
        return false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const char16_t p = pattern[i].unicode();
        char16_t c = name[i].unicode();
        if (c >= u'a' && c <= u'z')
            c = char16_t(c - (u'a' - u'A'));
        if (p != u'?' && p != c)
            return false;
    }
    return true;
}

bool reportBefore(const ReportHeader& a, const ReportHeader& b)
{
    if (a.year != b.year)
        return a.year < b.year;
    if (a.month != b.month)
        return a.month < b.month;
    // Byte by byte, unsigned: "Z" < "a" < "Š" (0x8A).
    if (const int c = a.title.compare(b.title); c != 0)
        return c < 0;
    return a.created < b.created;
}

void sortReports(ArchivedReports& reports)
{
    std::stable_sort(reports.begin(), reports.end(),
                     [](const auto& a, const auto& b) { return reportBefore(*a, *b); });
}

QStringList archivedReportPaths(const QString& directory)
{
    QStringList paths;
    DIR* dir = ::opendir(platform::encodeFileName(directory).constData());
    if (!dir)
        return {};
    const QString prefix = directory.endsWith(u'/') ? directory : directory + u'/';
    while (const dirent* e = ::readdir(dir)) {
        const QString name = platform::decodeFileName(e->d_name);
        if (isArchivedReportName(name))
            paths << prefix + name;
    }
    ::closedir(dir);
    paths.sort();
    return paths;
}

ArchivedReports scanArchiveDirectory(const QString& directory)
{
    const QStringList paths = archivedReportPaths(directory);

    // Reading a header is mostly waiting for the system, so a large directory is read by a few
    // threads at once while the caller waits. The header reader opens only plain files and never
    // waits on a pipe or follows a link.
    std::vector<std::unique_ptr<ReportHeader>> loaded(paths.size());
    auto load = [&paths, &loaded](size_t first, size_t step) {
        for (size_t i = first; i < size_t(paths.size()); i += step) {
            auto report = std::make_unique<ReportHeader>(paths[qsizetype(i)]);
            if (report->loadHeader())
                loaded[i] = std::move(report);
        }
    };
    const size_t threads = size_t(paths.size()) < kParallelFrom
                               ? 1
                               : std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
    std::vector<std::thread> workers;
    size_t started = 1;
    for (; started < threads; ++started) {
        try {
            workers.emplace_back(load, started, threads);
        } catch (const std::system_error&) {
            break; // no more threads: this one reads the rest
        }
    }
    for (size_t first = started; first < threads; ++first)
        load(first, threads);
    load(0, threads);
    for (std::thread& worker : workers)
        worker.join();

    ArchivedReports reports;
    reports.reserve(loaded.size());
    for (auto& report : loaded)
        if (report)
            reports.push_back(std::move(report));
    sortReports(reports);
    return reports;
}

std::vector<YearGroup> groupReports(const ArchivedReports& sorted)
{
    std::vector<YearGroup> years;
    for (const auto& report : sorted) {
        if (years.empty() || years.back().year != report->year)
            years.push_back(YearGroup{report->year, {}});
        auto& months = years.back().months;
        if (months.empty() || months.back().month != report->month)
            months.push_back(MonthGroup{report->month, {}});
        months.back().reports.push_back(report.get());
    }
    return years;
}

QString organisationName(const QString& archiveDirectory)
{
    // A report header describes only the report (title, date, layout, period); the payroll
    // program writes no organisation name into it, and the name printed in a report's body has
    // no fixed place. So no archive directory has a known organisation and the text is empty.
    Q_UNUSED(archiveDirectory);
    return {};
}

// The creation time as the desktop writes a short date and a long time; midnight shows the date
// alone.
QString createdText(const ReportDateTime& created)
{
    const QLocale locale = QLocale::system();
    QString text =
        created.hasDate() ? locale.toString(created.date, QLocale::ShortFormat) : QString();
    if (created.time == QTime(0, 0))
        return text;
    // The long time format may name the time zone, which a report's time does not have.
    QString format = locale.timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
    format.remove(zone);
    if (!text.isEmpty())
        text += u' ';
    return text + locale.toString(created.time, format.trimmed());
}

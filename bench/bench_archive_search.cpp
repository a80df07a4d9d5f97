// Searching the whole archive for a text, against grep -rlF for the same text over the same
// files, warm in the page cache.
//
//   bench_archive_search make SPOOL [COUNT]      write COUNT (10000) archived reports
//   bench_archive_search search SPOOL TEXT       one search, as a whole process (for hyperfine)
//   bench_archive_search compare SPOOL [ROUNDS]  both ROUNDS (10) times, interleaved; medians
//
// Every 50th report holds the name "Svoboda" on a line of its second page, so most files are
// read to their end by both. See bench/README.md.
#include "bench/BenchCommon.h"
#include "core/archive/ArchiveSearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>

#include <cstdio>

namespace {

const QString kText = QStringLiteral("Svoboda");

QByteArray reportText(int n)
{
    const QByteArray date = QByteArray::number(2022 + n % 3) +
                            QByteArray::number(1 + (n / 3) % 12).rightJustified(2, '0') +
                            QByteArray::number(1 + (n / 36) % 28).rightJustified(2, '0');
    QByteArray text = "{9A936A9B-A688-4E5B-9238-07D5AC9DCD82};1;" + date +
                      ";08150000;\"V\xFDplatn\xED p\xE1ska " + QByteArray::number(n % 40) +
                      "\";100;2;60;0;1250;100;1\r\n";
    QByteArray body = bench::sampleReportBody();
    if (n % 50 == 0) {
        // On the second page, inside a style sequence's reach.
        const qsizetype at = body.indexOf("\r\n", body.size() / 2) + 2;
        body.insert(at, "Jan ^B1Svoboda^B0, Brno\r\n");
    }
    return text + body;
}

bool makeArchive(const QString& archive, int count)
{
    return bench::makeArchive(
        archive, count,
        [](int i) {
            return QStringLiteral("20240131-081500-LST%1.PRN").arg(i, 5, 10, QLatin1Char('0'));
        },
        reportText);
}

struct Timing
{
    double total = 0;
    double first = 0;
    qint64 hits = 0;
};

// One search to its end: how long, and how long until the first hits arrived.
Timing searchOnce(const QString& archive, const QString& text)
{
    ArchiveSearch search;
    QEventLoop loop;
    Timing t;
    QElapsedTimer clock;
    QObject::connect(&search, &ArchiveSearch::hitsFound, [&](const QList<ArchiveSearchHit>& hits) {
        if (t.hits == 0)
            t.first = double(clock.nsecsElapsed()) * 1e-9;
        t.hits += hits.size();
    });
    QObject::connect(&search, &ArchiveSearch::finished, &loop, &QEventLoop::quit);
    clock.start();
    search.start({archive}, text, false);
    loop.exec();
    t.total = double(clock.nsecsElapsed()) * 1e-9;
    return t;
}

double grepOnce(const QString& archive, const QString& text, int& files)
{
    QProcess grep;
    QElapsedTimer clock;
    clock.start();
    grep.start(QStringLiteral("grep"), {QStringLiteral("-rlF"), text, archive});
    grep.waitForFinished(-1);
    const double s = double(clock.nsecsElapsed()) * 1e-9;
    files = int(grep.readAllStandardOutput().count('\n'));
    return s;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_archive_search make|search|compare SPOOL [...]\n");
        return 2;
    }
    const QString archive = QDir(args[1]).absolutePath() + QStringLiteral("/BAKPRN");
    if (args[0] == QLatin1String("make")) {
        const int count = args.size() > 2 ? args[2].toInt() : 10000;
        return count > 0 && makeArchive(archive, count) ? 0 : 1;
    }
    if (args[0] == QLatin1String("search")) {
        const Timing t = searchOnce(archive, args.size() > 2 ? args[2] : kText);
        std::printf("%lld reports\n", static_cast<long long>(t.hits));
        return t.hits > 0 ? 0 : 1;
    }
    if (args[0] != QLatin1String("compare"))
        return 2;
    const int rounds = args.size() > 2 ? args[2].toInt() : 10;
    std::vector<double> ours;
    std::vector<double> first;
    std::vector<double> grep;
    qint64 hits = 0;
    int grepFiles = 0;
    for (int r = 0; r < std::max(1, rounds); ++r) {
        const Timing t = searchOnce(archive, kText);
        ours.push_back(t.total);
        first.push_back(t.first);
        hits = t.hits;
        grep.push_back(grepOnce(archive, kText, grepFiles));
    }
    const double o = bench::median(ours);
    const double g = bench::median(grep);
    std::printf("reports found: ours %lld, grep %d; rounds %d\n", static_cast<long long>(hits),
                grepFiles, rounds);
    std::printf("archive search (all threads):  %8.2f ms\n", o * 1e3);
    std::printf("first hits delivered after:    %8.2f ms\n", bench::median(first) * 1e3);
    std::printf("grep -rlF (child process):     %8.2f ms\n", g * 1e3);
    std::printf("ratio: %.2f\n", o / g);
    return 0;
}

// Reading report headers: loadHeader against the floor of merely opening, reading the first
// 4 KiB of and closing the same files.
//
//   bench_loadheader make DIR [COUNT]   writes COUNT (10000) report files into DIR
//   bench_loadheader floor DIR          open + read 4 KiB + close every file
//   bench_loadheader header DIR         loadHeader on every file
//   bench_loadheader compare DIR [N]    both, N (20) rounds each, interleaved; prints the medians
//
// See bench/README.md for the hyperfine command and the results.
#include "bench/BenchCommon.h"
#include "core/report/ReportHeader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

QByteArray reportText(int n)
{
    QByteArray text = "{9A936A9B-A688-4E5B-9238-07D5AC9DCD82};1;20240131;08153000;\"V\xFDplatn\xED "
                      "p\xE1ska " +
                      QByteArray::number(n % 40) + "\";132;2;60;0;1250;100;1\r\n";
    text += bench::sampleReportBody();
    return text;
}

QStringList reportFiles(const QString& dir)
{
    QStringList files = QDir(dir).entryList({QStringLiteral("LST*.PRN")}, QDir::Files);
    for (QString& f : files)
        f = dir + u'/' + f;
    return files;
}

int headerPass(const QStringList& files)
{
    int ok = 0;
    for (const QString& f : files) {
        ReportHeader h(f);
        ok += h.loadHeader() ? 1 : 0;
    }
    return ok;
}

} // namespace

using namespace bench;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_loadheader make|floor|header|compare DIR [N]\n");
        return 2;
    }
    const QString mode = args[0];
    const QString dir = args[1];
    if (mode == u"make") {
        const int count = args.size() > 2 ? args[2].toInt() : 10000;
        QDir().mkpath(dir);
        for (int i = 0; i < count; ++i) {
            QFile f(QStringLiteral("%1/LST%2.PRN").arg(dir).arg(i, 5, 10, QLatin1Char('0')));
            if (!f.open(QIODevice::WriteOnly) || f.write(reportText(i)) < 0)
                return 1;
        }
        return 0;
    }
    const QStringList files = reportFiles(dir);
    std::vector<QByteArray> paths;
    for (const QString& f : files)
        paths.push_back(QFile::encodeName(f));
    if (mode == u"floor")
        return floorPass(paths) == int(paths.size()) ? 0 : 1;
    if (mode == u"header")
        return headerPass(files) == int(files.size()) ? 0 : 1;
    if (mode == u"compare") {
        const int rounds = args.size() > 2 ? args[2].toInt() : 20;
        std::vector<double> floorTimes;
        std::vector<double> headerTimes;
        int okFloor = 0;
        int okHeader = 0;
        for (int r = 0; r < rounds; ++r) {
            floorTimes.push_back(seconds([&] { okFloor = floorPass(paths); }));
            headerTimes.push_back(seconds([&] { okHeader = headerPass(files); }));
        }
        const double f = median(floorTimes);
        const double h = median(headerTimes);
        std::printf("files %lld, rounds %d\n", static_cast<long long>(files.size()), rounds);
        std::printf("floor (open, read 4 KiB, close): %8.2f ms  %6.2f us/file  (%d read)\n",
                    f * 1e3, f * 1e6 / double(files.size()), okFloor);
        std::printf("loadHeader:                      %8.2f ms  %6.2f us/file  (%d parsed)\n",
                    h * 1e3, h * 1e6 / double(files.size()), okHeader);
        std::printf("ratio: %.2f\n", h / f);
        return 0;
    }
    return 2;
}

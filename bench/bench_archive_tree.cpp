// Opening an archive directory in the archive browser: selecting its node (listing, reading every
// header, sorting, building the tree) against the floor of merely opening each archived report,
// reading its first 4 KiB and closing it.
//
//   bench_archive_tree SPOOL [COUNT] [ROUNDS]
//
// Writes COUNT (10000) archived reports into SPOOL/BAKPRN unless that many are there already,
// then runs both passes ROUNDS (10) times, interleaved, and prints the medians. See
// bench/README.md.
#include "bench/BenchCommon.h"
#include "core/config/AppSettings.h"
#include "core/jobs/JobState.h"
#include "gui/browser/ArchiveTree.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStandardItemModel>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// Three years, every month, a few reports a day.
QByteArray reportDate(int i)
{
    return QByteArray::number(2022 + i % 3) +
           QByteArray::number(1 + (i / 3) % 12).rightJustified(2, '0') +
           QByteArray::number(1 + (i / 36) % 28).rightJustified(2, '0');
}

QByteArray reportTime(int i)
{
    return QByteArray::number(i / 1008 % 24).rightJustified(2, '0') +
           QByteArray::number(i % 60).rightJustified(2, '0') + "0000";
}

QByteArray reportText(int n)
{
    QByteArray text = "{9A936A9B-A688-4E5B-9238-07D5AC9DCD82};1;" + reportDate(n) + ';' +
                      reportTime(n) + ";\"V\xFDplatn\xED p\xE1ska " + QByteArray::number(n % 40) +
                      "\";" + QByteArray::number(80 + n % 60) + ";2;60;0;1250;100;1\r\n";
    text += bench::sampleReportBody();
    return text;
}

bool makeArchive(const QString& archive, int count)
{
    return bench::makeArchive(
        archive, count,
        [](int i) {
            return QStringLiteral("%1-%2-LST%3.PRN")
                .arg(QString::fromLatin1(reportDate(i)), QString::fromLatin1(reportTime(i).left(6)))
                .arg(i, 5, 10, QLatin1Char('0'));
        },
        reportText);
}

int countReports(const QAbstractItemModel* model, const QModelIndex& parent, int depth)
{
    int count = 0;
    for (int row = 0; row < model->rowCount(parent); ++row)
        count += depth == 3 ? 1 : countReports(model, model->index(row, 0, parent), depth + 1);
    return count;
}

} // namespace

using namespace bench;

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // The window remembers its size; that goes to a settings file of the benchmark's own.
    if (argc > 1)
        qputenv("XDG_CONFIG_HOME", QByteArray(argv[1]) + "/config");
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: bench_archive_tree SPOOL [COUNT] [ROUNDS]\n");
        return 2;
    }
    const QString spool = QDir(args[0]).absolutePath();
    const int count = args.size() > 1 ? args[1].toInt() : 10000;
    const int rounds = args.size() > 2 ? args[2].toInt() : 10;
    const QString archive = spool + QStringLiteral("/BAKPRN");
    if (count < 1 || rounds < 1 || !makeArchive(archive, count))
        return 1;

    std::vector<QByteArray> paths;
    for (const QString& name : QDir(archive).entryList(QDir::Files))
        paths.push_back(QFile::encodeName(archive + u'/' + name));

    AppSettings settings;
    settings.directories = spool;
    settings.maxPortrait = 96;
    JobState queue;
    std::vector<double> floorTimes;
    std::vector<double> treeTimes;
    std::vector<double> scanTimes;
    int okFloor = 0;
    int okTree = 0;
    for (int r = 0; r < rounds; ++r) {
        floorTimes.push_back(seconds([&] { okFloor = floorPass(paths); }));
        scanTimes.push_back(seconds([&] { scanArchiveDirectory(archive); }));
        ArchiveTree* window = ArchiveTree::showArchiveTree(settings, queue);
        QTreeView* tree = window->ui().tree;
        const QModelIndex node = window->ui().model->index(0, 0);
        treeTimes.push_back(seconds([&] { tree->setCurrentIndex(node); }));
        okTree = countReports(window->ui().model, {}, 0);
        delete window;
    }
    const double f = median(floorTimes);
    const double t = median(treeTimes);
    const double n = double(paths.size());
    std::printf("files %lld, rounds %d\n", static_cast<long long>(paths.size()), rounds);
    std::printf("floor (open, read 4 KiB, close):    %8.2f ms  %6.2f us/file  (%d read)\n", f * 1e3,
                f * 1e6 / n, okFloor);
    std::printf("select node (scan, sort, tree):     %8.2f ms  %6.2f us/file  (%d nodes)\n",
                t * 1e3, t * 1e6 / n, okTree);
    std::printf("scan and sort alone:                %8.2f ms  %6.2f us/file\n",
                median(scanTimes) * 1e3, median(scanTimes) * 1e6 / n);
    std::printf("ratio: %.2f\n", t / f);
    return 0;
}

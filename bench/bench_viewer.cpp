// Opens a long report in the report viewer and times what a user waits for: from opening to the
// first painted page, scrolling to the end, and finding a text on the last line. Prints the peak
// resident memory against the file's size.
//
//   bench_viewer make FILE [MEGABYTES]   writes a report of about that size (200 by default)
//   bench_viewer open FILE               opens it and prints the times
//
// The settings live in a scratch XDG_CONFIG_HOME made for the run.
#include "bench/BenchCommon.h"
#include "core/config/RegistryIni.h"
#include "core/report/CodePages.h"
#include "core/report/ReportHeader.h"
#include "gui/browser/ReportViewer.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QListView>
#include <QScrollBar>
#include <QTemporaryDir>

#include <cstdio>

namespace {

int makeReport(const QString& path, qint64 megabytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write("{9A936A9B-A688-4E5B-9238-07D5AC9DCD82};1;20261209;12000000;\"Vyplatni listina\";"
               "132;9999;66;0;1250;100;1\r\n");
    const qint64 target = megabytes * 1024 * 1024;
    QByteArray page;
    for (int line = 0; line < 66; ++line) {
        QByteArray text = line == 0 ? QByteArray("^PG") : QByteArray();
        text += "\xFE Novak Jan ^B1" + QByteArray::number(10000 + line) + "^B0 \xFE";
        text += QByteArray(132 - 24, '.');
        text += "\xFE\r\n";
        page += text;
    }
    qint64 written = 0;
    while (written < target) {
        file.write(page);
        written += page.size();
    }
    file.write("KONEC SESTAVY\r\n");
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() >= 3 && args.at(1) == QLatin1String("make"))
        return makeReport(args.at(2), args.size() > 3 ? args.at(3).toLongLong() : 200);
    if (args.size() < 3 || args.at(1) != QLatin1String("open")) {
        std::fprintf(stderr, "usage: bench_viewer make FILE [MEGABYTES] | open FILE\n");
        return 2;
    }
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));

    ReportHeader header(args.at(2));
    header.title = "Vyplatni listina";
    QElapsedTimer clock;
    clock.start();
    ReportViewer* viewer = ReportViewer::showReport(nullptr, header, false, nullptr);
    if (!viewer)
        return 1;
    viewer->resize(900, 700);
    viewer->ui().rows->viewport()->repaint();
    const qint64 firstPaint = clock.elapsed();

    // The rows are laid out in batches while the window is already shown: scrolling to the end
    // is done once the last row is on screen.
    clock.restart();
    QListView* list = viewer->ui().rows;
    const int lastRow = list->model()->rowCount() - 1;
    while (list->indexAt(QPoint(4, list->viewport()->height() - 4)).row() != lastRow &&
           list->indexAt(QPoint(4, 4)).row() != lastRow && clock.elapsed() < 10000) {
        list->scrollToBottom();
        QApplication::processEvents();
        list->viewport()->repaint();
    }
    const qint64 toEnd = clock.elapsed();

    clock.restart();
    const qsizetype found = viewer->text().find(QStringLiteral("konec sestavy"), 0, 1);
    const qint64 findLast = clock.elapsed();

    const double fileMb = double(QFileInfo(args.at(2)).size()) / (1024 * 1024);
    const double peakMb = double(bench::peakKilobytes()) / 1024;
    const qsizetype rows = viewer->text().rowCount();
    delete viewer;
    qint64 readOnly = 0;
    {
        // Reading and splitting alone, for comparison with the whole opening.
        ReportText text;
        QString error;
        clock.start();
        if (!text.load(args.at(2), CodePage1250, error))
            return 1;
        readOnly = clock.elapsed();
    }

    std::printf("rows %lld, file %.1f MB\n", static_cast<long long>(rows), fileMb);
    std::printf("open to first paint  %6lld ms (reading and splitting alone %lld ms)\n",
                static_cast<long long>(firstPaint), static_cast<long long>(readOnly));
    std::printf("scroll to the end    %6lld ms\n", static_cast<long long>(toEnd));
    std::printf("find on last line    %6lld ms (row %lld)\n", static_cast<long long>(findLast),
                static_cast<long long>(found));
    std::printf("peak resident memory %6.1f MB = %.2f x the file\n", peakMb, peakMb / fileMb);
    return found >= 0 ? 0 : 1;
}

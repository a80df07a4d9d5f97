// Opens the print preview of a report for a CUPS queue and times what the user waits for: from
// asking for the preview to its first page on screen, and to the whole document laid out. Prints
// the peak resident memory, which should not grow with the report's page count.
//
//   bench_print_preview REPORT QUEUE [SHOT.png]
//
// One line: "first N ms, whole N ms, last page N ms, pages N, peak RSS N kB". With SHOT.png the
// first page as shown is saved. The settings live in a scratch XDG_CONFIG_HOME made for the run;
// CUPS_SERVER points at the scheduler (bench/bench_print_preview.sh starts a private one).
#include "bench/BenchCommon.h"
#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "gui/browser/PrintPreview.h"
#include "print/CupsPrinterCatalog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: bench_print_preview REPORT QUEUE [SHOT.png]\n");
        return 2;
    }
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    productKeys().productKey = QStringLiteral("Tarnyx");
    CupsPrinterCatalog printers;
    AppSettings settings;
    settings.load(printers);
    settings.printer = args.at(2);

    QElapsedTimer clock;
    clock.start();
    PrintPreview* preview =
        PrintPreview::showPreview(args.at(1), settings, printers, nullptr, nullptr);
    if (!preview)
        return 1;
    // Polled every millisecond: the figure is the moment the page is on the screen.
    if (!QTest::qWaitFor([preview] { return preview->hasPage(); }, 60000))
        return 1;
    const qint64 first = clock.elapsed();
    if (args.size() > 3)
        preview->shownImage().save(args.at(3));
    if (!QTest::qWaitFor([preview] { return preview->isFinished(); }, 120000))
        return 1;
    const qint64 whole = clock.elapsed();
    preview->showPage(preview->pageCount() - 1);
    const qint64 last = clock.elapsed();
    std::printf("first %lld ms, whole %lld ms, last page %lld ms, pages %d, peak RSS %ld kB\n",
                static_cast<long long>(first), static_cast<long long>(whole),
                static_cast<long long>(last - whole), preview->pageCount(), bench::peakKilobytes());
    delete preview;
    return 0;
}

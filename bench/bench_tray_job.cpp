// Prints one report through the tray program's own pieces (controller, main window, print
// worker, CUPS queue), started as its tick starts a job, and measures how long the job takes
// until CUPS has accepted the document and the report is disposed of, and the longest time the
// user-interface thread could not run a 10 ms timer meanwhile.
//
//   bench_tray_job REPORT QUEUE [RUNS]
//
// CUPS_SERVER (and CUPS_SERVERROOT) name the scheduler, as bench/lib-cups.sh exports them. Each
// run copies REPORT into a scratch spool directory of its own; the settings live in a scratch
// XDG_CONFIG_HOME. One line a run: "run N: job X ms, longest stall Y ms".
#include "core/config/RegistryIni.h"
#include "core/jobs/JobController.h"
#include "gui/main/MainWindow.h"
#include "gui/print/UiJobHost.h"
#include "print/CupsPrinterCatalog.h"
#include "print/PrintWorker.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: bench_tray_job REPORT QUEUE [RUNS]\n");
        return 2;
    }
    const QString report = args.at(1);
    const QString queue = args.at(2);
    const int runs = args.size() > 3 ? args.at(3).toInt() : 5;
    QTemporaryDir dir;
    const QString reportPath = QFileInfo(report).absoluteFilePath();
    QDir::setCurrent(dir.path()); // the event log is written in the working directory
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    productKeys().productKey = QStringLiteral("Tarnyx");

    for (int run = 1; run <= runs; ++run) {
        const QString spool = dir.filePath(QStringLiteral("Lst%1").arg(run));
        QDir().mkpath(spool);
        if (!QFile::copy(reportPath, spool + QStringLiteral("/LST00001.PRN"))) {
            std::fprintf(stderr, "bench_tray_job: cannot copy %s\n", qPrintable(report));
            return 1;
        }
        CupsPrinterCatalog printers;
        JobController controller({}, printers);
        controller.settings().directories = spool;
        controller.settings().printer = queue;
        controller.settings().erase = true;
        controller.settings().orientation = 0;
        UiJobHost host(controller);
        controller.setWorkerFactory([&](const QString& path) {
            return std::make_unique<PrintWorker>(path, controller.settings(),
                                                 controller.printerCatalog(), controller, host);
        });
        MainWindow form(controller, {});
        host.setStatusView([&form] { form.refreshStatus(); });
        form.play();

        // The user-interface thread's pulse: the longest gap between two 10 ms ticks.
        QElapsedTimer pulse;
        qint64 longest = 0;
        QTimer timer;
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout,
                         [&] { longest = std::max(longest, pulse.restart()); });
        QElapsedTimer job;
        job.start();
        pulse.start();
        timer.start();
        controller.onTick();
        if (!controller.worker()) {
            std::fprintf(stderr, "bench_tray_job: no job started\n");
            return 1;
        }
        // Waits in an event loop, as the program does: the thread sleeps between its events.
        while (controller.worker()) {
            QEventLoop wait;
            QTimer::singleShot(20, &wait, &QEventLoop::quit);
            wait.exec();
        }
        const qint64 took = job.elapsed();
        timer.stop();
        if (QFile::exists(spool + QStringLiteral("/LST00001.PRN")) ||
            !controller.workerError().isEmpty()) {
            std::fprintf(stderr, "bench_tray_job: the report was not printed: %s\n",
                         qPrintable(controller.workerError()));
            return 1;
        }
        std::printf("run %d: job %lld ms, longest stall %lld ms\n", run, took, longest);
        std::fflush(stdout);
    }
    return 0;
}

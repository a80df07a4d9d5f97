// Stop and Play on a report that is being printed: the program put together as the tray program
// does it (controller, main window, print worker), printing onto a private cupsd. The Stop comes
// while the job waits for the user's answer about the orientation, so it meets the job at the
// same point on every machine.
#include "core/config/RegistryIni.h"
#include "core/jobs/JobController.h"
#include "gui/main/MainWindow.h"
#include "gui/print/UiJobHost.h"
#include "print/CupsPrinterCatalog.h"
#include "print/PrintWorker.h"
#include "support/CupsFixture.h"
#include "support/TestHive.h"
#include "support/TestReport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestStopPlay : public QObject
{
    Q_OBJECT
private slots:
    void stopAbandonsAndPlayPrintsAgain();
};

void TestStopPlay::stopAbandonsAndPlayPrintsAgain()
{
    CupsFixture cups;
    QVERIFY2(cups.start({QStringLiteral("mzdy")}, QStringLiteral("mzdy")),
             qPrintable(cups.reason()));
    cups.exportToEnvironment();
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    productKeys().productKey = QStringLiteral("Tarnyx");
    const QString spool = dir.filePath(QStringLiteral("Lst"));
    QDir().mkpath(spool);
    writeSettingsHive(dir.filePath(QStringLiteral("config/Morvane/registry.reg")),
                      "\"Directories\"=\"" + QFile::encodeName(spool) +
                          "\"\r\n\"Printer\"=\"mzdy\"\r\n\"Erase\"=dword:00000000\r\n"
                          "\"Iconize\"=dword:00000000\r\n\"Orientation\"=\"255\"\r\n");

    CupsPrinterCatalog printers;
    JobController controller({}, printers);
    UiJobHost host(controller);
    controller.setWorkerFactory([&](const QString& path) {
        return std::make_unique<PrintWorker>(path, controller.settings(), printers, controller,
                                             host);
    });
    MainWindow form(controller, {});
    host.setStatusView([&form] { form.refreshStatus(); });

    int questions = 0;
    host.setOrientationDialog([&](const ReportHeader&) {
        if (++questions == 1)
            form.ui().stopAction->trigger();
        return 1;
    });

    const int pages = 5;
    QByteArray text =
        reportHeaderLine({1, "20240131", "08150000", "Dlouh\xE1", 80, pages, 60, 0, 1250, 100, 0});
    for (int page = 0; page < pages; ++page)
        for (int line = 0; line < 60; ++line)
            text += "^B1Strana^B0 " + QByteArray::number(page + 1) + " ^I1radek^I0 " +
                    QByteArray::number(line + 1) + QByteArray(50, '.') + "\r\n";
    const QString report = spool + QStringLiteral("/LST00001.PRN");
    QFile f(report);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();

    form.play();
    controller.onTick();
    QVERIFY(controller.worker());
    QTRY_VERIFY_WITH_TIMEOUT(!controller.worker(), 120000);
    QCOMPARE(questions, 1);
    QVERIFY(controller.isPaused());
    // Abandoned: nothing reached the queue, the report waits in its spool directory.
    QVERIFY(QFile::exists(report));
    QVERIFY(cups.capturedJobs(QStringLiteral("mzdy")).isEmpty());
    controller.onTick(); // paused: nothing starts
    QVERIFY(!controller.worker());

    form.ui().playAction->trigger();
    controller.onTick();
    QVERIFY(controller.worker());
    QTRY_VERIFY_WITH_TIMEOUT(!controller.worker(), 120000);
    const QString job = cups.waitForJob(QStringLiteral("mzdy"), 30000);
    QVERIFY(!job.isEmpty());
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {job});
    QVERIFY(info.waitForFinished());
    const QByteArray pagesLine = "Pages:           " + QByteArray::number(pages);
    QVERIFY(info.readAllStandardOutput().contains(pagesLine));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(report), 30000);
    QVERIFY(QFile::exists(spool + QStringLiteral("/BAKPRN/20240131-081500-LST00001.PRN")));
    QCOMPARE(questions, 2); // the stopped job's question had no answer to remember
}

QTEST_MAIN(TestStopPlay)
#include "tst_stopplay.moc"

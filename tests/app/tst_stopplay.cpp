// The run state of the program put together as the tray program does it (controller, main
// window, print worker), printing onto a private cupsd: Stop and Play on a report that is being
// printed, and the start with a scheduler that hangs.
#include "core/config/RegistryIni.h"
#include "core/jobs/JobController.h"
#include "gui/main/MainWindow.h"
#include "gui/print/UiJobHost.h"
#include "print/CupsPrinterCatalog.h"
#include "print/PrintWorker.h"
#include "support/CupsFixture.h"
#include "support/TestHive.h"
#include "support/TestReport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

class TestStopPlay : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void stopAbandonsAndPlayPrintsAgain();
    void hungSchedulerHoldsNeitherWindowNorPlay();

private:
    // Settings naming `printer`, printing from a spool directory of their own; returns it.
    QString writeSettings(const QByteArray& printer);

    // One scheduler for the process: libcups takes its address once per thread.
    CupsFixture m_cups;
    QTemporaryDir m_dir;
    int m_run = 0;
};

void TestStopPlay::initTestCase()
{
    QVERIFY2(m_cups.start({QStringLiteral("mzdy")}, QStringLiteral("mzdy")),
             qPrintable(m_cups.reason()));
    m_cups.exportToEnvironment();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    productKeys().productKey = QStringLiteral("Tarnyx");
}

QString TestStopPlay::writeSettings(const QByteArray& printer)
{
    const QString spool = m_dir.filePath(QStringLiteral("Lst%1").arg(++m_run));
    QDir().mkpath(spool);
    writeSettingsHive(m_dir.filePath(QStringLiteral("config/Morvane/registry.reg")),
                      "\"Directories\"=\"" + QFile::encodeName(spool) + "\"\r\n\"Printer\"=\"" +
                          printer +
                          "\"\r\n\"Erase\"=dword:00000000\r\n"
                          "\"Iconize\"=dword:00000000\r\n\"Orientation\"=\"255\"\r\n");
    return spool;
}

// The Stop comes while the job waits for the user's answer about the orientation, so it meets the
// job at the same point on every machine.
void TestStopPlay::stopAbandonsAndPlayPrintsAgain()
{
    const QString spool = writeSettings("mzdy");

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
    QVERIFY(m_cups.capturedJobs(QStringLiteral("mzdy")).isEmpty());
    controller.onTick(); // paused: nothing starts
    QVERIFY(!controller.worker());

    form.ui().playAction->trigger();
    controller.onTick();
    QVERIFY(controller.worker());
    QTRY_VERIFY_WITH_TIMEOUT(!controller.worker(), 120000);
    const QString job = m_cups.waitForJob(QStringLiteral("mzdy"), 30000);
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

// A scheduler that hangs holds neither the main window nor the start of printing: the printer
// named in the settings is checked on a thread of its own, and the name as stored stands until
// the scheduler answers.
void TestStopPlay::hungSchedulerHoldsNeitherWindowNorPlay()
{
    qputenv("TARNYX_TEST_TIME_PERCENT", "10"); // the start's second
    auto fullWaits = qScopeGuard([] { qunsetenv("TARNYX_TEST_TIME_PERCENT"); });
    writeSettings("MZDY");
    QVERIFY(m_cups.hang());
    auto resume = qScopeGuard([this] { m_cups.resume(); });
    // Only a bound for the failure: a question that the scheduler leaves unanswered takes 5 s.
    const QDeadlineTimer bound(4000);
    CupsPrinterCatalog printers;
    JobController controller({}, printers, std::make_unique<CupsPrinterCatalog>());
    MainWindow form(controller, {});
    controller.startupTimer().start();
    form.showInitially();
    QVERIFY(form.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(form.windowTitle().endsWith(QStringLiteral("spuštěn")),
                             bound.remainingTime());
    QCOMPARE(controller.settings().printer, QStringLiteral("MZDY"));
    QCOMPARE(printers.currentPrinter(), QStringLiteral("MZDY"));

    // Still asked when the scheduler goes on: the installed spelling, also in the status bar.
    m_cups.resume();
    QTRY_COMPARE_WITH_TIMEOUT(controller.settings().printer, QStringLiteral("mzdy"), 10000);
    QCOMPARE(printers.currentPrinter(), QStringLiteral("mzdy"));
    QCOMPARE(form.ui().statusPanels[2]->text(), QStringLiteral("mzdy"));
}

QTEST_MAIN(TestStopPlay)
#include "tst_stopplay.moc"

#include "core/jobs/JobController.h"
#include "core/platform/FileInfo.h"
#include "core/platform/PrinterCatalog.h"
#include "core/platform/Wildcard.h"
#include "support/NoPrinters.h"

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

class View : public ControllerView
{
public:
    JobController* dm = nullptr;
    QStringList calls;
    void togglePause() override
    {
        calls << QStringLiteral("pause");
        dm->setPaused(!dm->isPaused());
    }
    void showWorkerError(const QString& text) override { calls << QStringLiteral("error ") + text; }
    void startTrayAnimation() override { calls << QStringLiteral("animate"); }
    void showIdleIcon(bool paused) override
    {
        calls << (paused ? QStringLiteral("idle paused") : QStringLiteral("idle running"));
    }
    void checkTrayHost() override {}
    void play() override
    {
        calls << QStringLiteral("play");
        dm->setStopRequest(false);
    }
};

// A worker that prints nothing: it waits until the test lets it end.
class FakeWorker : public QThread
{
public:
    explicit FakeWorker(QSemaphore* gate) : m_gate(gate) {}

protected:
    void run() override
    {
        if (m_gate)
            m_gate->acquire();
    }

private:
    QSemaphore* m_gate;
};

void touch(const QString& path, const QByteArray& content = "x")
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

// A controller on temporary spool directories whose workers only record their report.
struct Rig
{
    QTemporaryDir home;
    QTemporaryDir spool;
    NoPrinters printers;
    View view;
    QStringList started;
    QSemaphore gate;
    std::unique_ptr<JobController> dm;

    Rig()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        dm = std::make_unique<JobController>(QStringList{}, printers);
        view.dm = dm.get();
        dm->setView(&view);
        dm->setWorkerFactory([this](const QString& path) {
            started << QFileInfo(path).fileName();
            return std::make_unique<FakeWorker>(&gate);
        });
        dm->setPaused(false);
        dm->setWakeOnReports(false); // the tests tick themselves, but for the one that wakes
    }
    ~Rig()
    {
        gate.release(100);
        if (dm->worker())
            dm->worker()->wait();
    }
    QString dir(const QString& name)
    {
        QDir(spool.path()).mkpath(name);
        return spool.filePath(name);
    }
    // Lets the running worker end and the controller notice it.
    void finishJob()
    {
        QVERIFY(dm->worker());
        gate.release();
        QVERIFY(dm->worker()->wait(5000));
        QTRY_VERIFY(!dm->worker());
    }
};

} // namespace

class TestJobController : public QObject
{
    Q_OBJECT
private slots:
    void reportPattern_data();
    void reportPattern();
    void directoriesInTurn();
    void oneJobAtATime();
    void emptyReportStopsTheScan();
    void skippedUntilChanged();
    void reprintQueueFirst();
    void printByOnePauses();
    void errorWithoutDialogIsShownByTheTick();
    void closedReportPrintsWithoutWaitingForItsTurn();
};

void TestJobController::reportPattern_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("matches");
    QTest::newRow("five digits") << QStringLiteral("LST00001.PRN") << true;
    QTest::newRow("any case") << QStringLiteral("lst00001.prn") << true;
    QTest::newRow("fewer characters") << QStringLiteral("LST1.PRN") << true;
    QTest::newRow("none") << QStringLiteral("LST.PRN") << true;
    QTest::newRow("six characters") << QStringLiteral("LST000001.PRN") << false;
    QTest::newRow("other extension") << QStringLiteral("LST00001.PRN.bak") << false;
    QTest::newRow("other start") << QStringLiteral("XLST0001.PRN") << false;
}

void TestJobController::reportPattern()
{
    QFETCH(QString, name);
    QFETCH(bool, matches);
    QCOMPARE(platform::wildcardMatch(JobController::kReportPattern, name), matches);
}

void TestJobController::directoriesInTurn()
{
    Rig r;
    const QString a = r.dir(QStringLiteral("A"));
    const QString b = r.dir(QStringLiteral("B"));
    // Empty items do not count; a missing directory costs its turn.
    r.dm->settings().directories = a + QStringLiteral(";;") + b + QStringLiteral(";") +
                                   r.spool.filePath(QStringLiteral("missing")) + u';';
    QStringList seen;
    for (int i = 0; i < 6; ++i)
        seen << QFileInfo(r.dm->nextSpoolDirectory()).fileName();
    QCOMPARE(seen, (QStringList{QStringLiteral("A"), QStringLiteral("B"), QString(),
                                QStringLiteral("A"), QStringLiteral("B"), QString()}));
    r.dm->settings().directories.clear();
    QCOMPARE(r.dm->nextSpoolDirectory(), QString());
}

void TestJobController::oneJobAtATime()
{
    Rig r;
    const QString a = r.dir(QStringLiteral("A"));
    const QString b = r.dir(QStringLiteral("B"));
    r.dm->settings().directories = a + u';' + b;
    touch(a + QStringLiteral("/LST00001.PRN"));
    touch(b + QStringLiteral("/LST00002.PRN"));

    r.dm->onTick();
    QCOMPARE(r.started, QStringList{QStringLiteral("LST00001.PRN")});
    QVERIFY(r.view.calls.contains(QStringLiteral("animate")));
    // While the worker runs, ticks neither start a job nor move on to the next directory.
    r.dm->onTick();
    r.dm->onTick();
    QCOMPARE(r.started.size(), 1);
    QCOMPARE(r.dm->dirIndex(), 1);
    r.finishJob();
    QCOMPARE(r.view.calls.last(), QStringLiteral("idle running"));

    QFile::remove(a + QStringLiteral("/LST00001.PRN")); // as the job would have archived it
    r.dm->onTick();
    QCOMPARE(r.started.last(), QStringLiteral("LST00002.PRN"));
    r.finishJob();
    // Paused: nothing starts.
    r.dm->setPaused(true);
    r.dm->onTick();
    r.dm->onTick();
    QCOMPARE(r.started.size(), 2);
}

void TestJobController::emptyReportStopsTheScan()
{
    Rig r;
    const QString a = r.dir(QStringLiteral("A"));
    r.dm->settings().directories = a;
    touch(a + QStringLiteral("/LST00001.PRN"), QByteArray());
    touch(a + QStringLiteral("/LST00002.PRN"));
    const QList<platform::DirEntry> order =
        platform::findMatches(a, QString::fromUtf16(JobController::kReportPattern));
    r.dm->onTick();
    // The file system decides the order: a report after the empty one waits.
    if (order.first().size == 0)
        QVERIFY(r.started.isEmpty());
    else
        QCOMPARE(r.started, QStringList{QStringLiteral("LST00002.PRN")});
}

void TestJobController::skippedUntilChanged()
{
    Rig r;
    const QString a = r.dir(QStringLiteral("A"));
    r.dm->settings().directories = a;
    const QString report = a + QStringLiteral("/LST00001.PRN");
    touch(report);
    QFile f(report);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                          QFileDevice::FileModificationTime));
    f.close();
    const quint32 stamp = platform::findFile(report)->dosTime;
    r.dm->skipList() << SkipEntry{report, stamp};
    QVERIFY(r.dm->isSkipped(report));
    QVERIFY(!r.dm->isSkipped(report.toLower())); // the path compares exactly
    r.dm->onTick();
    QVERIFY(r.started.isEmpty());
    // Nor from the re-print queue, where the entry stays unserved.
    r.dm->reprintQueue() << ReprintEntry{report, false};
    r.dm->onTick();
    QVERIFY(r.started.isEmpty());
    QVERIFY(!r.dm->reprintQueue().first().taken);

    touch(report, "rewritten"); // a new time stamp ends the skip
    r.dm->onTick();
    QCOMPARE(r.started.size(), 1);
}

void TestJobController::reprintQueueFirst()
{
    Rig r;
    const QString a = r.dir(QStringLiteral("A"));
    const QString archive = r.dir(QStringLiteral("A/BAKPRN"));
    r.dm->settings().directories = a;
    touch(a + QStringLiteral("/LST00003.PRN"));
    const QString old = archive + QStringLiteral("/20240131-081530-LST00001.PRN");
    touch(old);
    r.dm->reprintQueue() << ReprintEntry{old, false} << ReprintEntry{old, false};

    r.dm->onTick();
    QCOMPARE(r.started.last(), QStringLiteral("20240131-081530-LST00001.PRN"));
    QVERIFY(r.dm->reprintQueue().at(0).taken);
    QCOMPARE(r.dm->dirIndex(), 0);      // the queue's tick does not turn the directories
    r.dm->reprintQueue().removeFirst(); // as the job's finishing step does
    r.finishJob();
    r.dm->onTick();
    QCOMPARE(r.started.size(), 2); // the second entry of the same path
    r.dm->reprintQueue().removeFirst();
    r.finishJob();
    r.dm->onTick();
    QCOMPARE(r.started.last(), QStringLiteral("LST00003.PRN"));
}

void TestJobController::printByOnePauses()
{
    Rig r;
    const QString a = r.dir(QStringLiteral("A"));
    r.dm->settings().directories = a;
    r.dm->settings().printByOne = true;
    touch(a + QStringLiteral("/LST00001.PRN"));
    r.dm->onTick();
    QCOMPARE(r.started.size(), 1);
    QVERIFY(r.dm->isPaused());
    QVERIFY(r.view.calls.contains(QStringLiteral("pause")));
}

void TestJobController::errorWithoutDialogIsShownByTheTick()
{
    Rig r;
    r.dm->setWorkerError(QStringLiteral("Chyba X"));
    r.dm->onTick();
    QVERIFY(r.view.calls.contains(QStringLiteral("error Chyba X")));
    QVERIFY(r.dm->workerError().isEmpty());
    QVERIFY(r.dm->isPaused()); // the tick's error display pauses
    QVERIFY(r.dm->tickTimer().isActive());
}

void TestJobController::closedReportPrintsWithoutWaitingForItsTurn()
{
    Rig r;
    const QString a = r.dir(QStringLiteral("A"));
    const QString b = r.dir(QStringLiteral("B"));
    const QString c = r.dir(QStringLiteral("C"));
    r.dm->settings().directories = a + u';' + b + u';' + c;
    r.dm->setWakeOnReports(true);
    r.dm->tickTimer().setInterval(600000); // only wake-ups start jobs here
    r.dm->onTick();                        // A looked at, every directory watched
    // A file that is no report wakes nothing, nor does one already gone (B, next in turn); a
    // report closed in C prints at once, out of turn.
    touch(a + QStringLiteral("/notes.txt"));
    touch(b + QStringLiteral("/LST00009.PRN"));
    QFile::remove(b + QStringLiteral("/LST00009.PRN"));
    touch(c + QStringLiteral("/LST00003.PRN"));
    QTRY_COMPARE(r.started, QStringList{QStringLiteral("LST00003.PRN")});
    QCOMPARE(r.dm->dirIndex(), 3);
    // Reports closed while a job runs wait for it, then go in turn from C: A, then B.
    touch(b + QStringLiteral("/LST00002.PRN"));
    touch(a + QStringLiteral("/LST00001.PRN"));
    QTest::qWait(50);
    QCOMPARE(r.started.size(), 1);
    QFile::remove(c + QStringLiteral("/LST00003.PRN"));
    r.gate.release();
    QTRY_COMPARE(r.started.size(), 2);
    QCOMPARE(r.started.last(), QStringLiteral("LST00001.PRN"));
    QFile::remove(a + QStringLiteral("/LST00001.PRN"));
    r.gate.release();
    QTRY_COMPARE(r.started.size(), 3);
    QCOMPARE(r.started.last(), QStringLiteral("LST00002.PRN"));
    QFile::remove(b + QStringLiteral("/LST00002.PRN"));
    r.finishJob();

    // A directory removed and made again is watched again from the next tick on.
    QVERIFY(QDir(b).removeRecursively());
    QVERIFY(QDir().mkpath(b));
    r.dm->onTick();
    touch(b + QStringLiteral("/LST00004.PRN"));
    QTRY_COMPARE(r.started.size(), 4);
    QCOMPARE(r.started.last(), QStringLiteral("LST00004.PRN"));
}

QTEST_GUILESS_MAIN(TestJobController)
#include "tst_jobcontroller.moc"

#include "common/NoPrinters.h"
#include "core/UnitDM1.h"
#include "platform/FileInfo.h"
#include "platform/Wildcard.h"
#include "print/PrinterCatalog.h"

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
    TDataModule1* dm = nullptr;
    QStringList calls;
    void ActionPauseExecute() override
    {
        calls << QStringLiteral("pause");
        dm->SetPaused(!dm->Paused);
    }
    void ShowWorkerError(const QString& text) override { calls << QStringLiteral("error ") + text; }
    void StartTrayAnimation() override { calls << QStringLiteral("animate"); }
    void ShowIdleIcon(bool paused) override
    {
        calls << (paused ? QStringLiteral("idle paused") : QStringLiteral("idle running"));
    }
    void CheckTrayHost() override {}
    void ActionPlayExecute() override
    {
        calls << QStringLiteral("play");
        dm->SetStopRequest(false);
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
    std::unique_ptr<TDataModule1> dm;

    Rig()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        dm = std::make_unique<TDataModule1>(QStringList{}, printers);
        view.dm = dm.get();
        dm->setView(&view);
        dm->setWorkerFactory([this](const QString& path) {
            started << QFileInfo(path).fileName();
            return std::make_unique<FakeWorker>(&gate);
        });
        dm->Paused = false;
    }
    ~Rig()
    {
        gate.release(100);
        if (dm->Worker())
            dm->Worker()->wait();
    }
    QString dir(const QString& name)
    {
        QDir(spool.path()).mkpath(name);
        return spool.filePath(name);
    }
    // Lets the running worker end and the controller notice it.
    void finishJob()
    {
        QVERIFY(dm->Worker());
        gate.release();
        QVERIFY(dm->Worker()->wait(5000));
        QTRY_VERIFY(!dm->Worker());
    }
};

} // namespace

class TestController : public QObject
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
};

void TestController::reportPattern_data()
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

void TestController::reportPattern()
{
    QFETCH(QString, name);
    QFETCH(bool, matches);
    QCOMPARE(platform::wildcardMatch(TDataModule1::ReportPattern, name), matches);
}

void TestController::directoriesInTurn()
{
    Rig r;
    const QString a = r.dir(QStringLiteral("A"));
    const QString b = r.dir(QStringLiteral("B"));
    // Empty items do not count; a missing directory costs its turn.
    r.dm->Settings.directories = a + QStringLiteral(";;") + b + QStringLiteral(";") +
                                 r.spool.filePath(QStringLiteral("missing")) + u';';
    QStringList seen;
    for (int i = 0; i < 6; ++i)
        seen << QFileInfo(r.dm->NextSpoolDirectory()).fileName();
    QCOMPARE(seen, (QStringList{QStringLiteral("A"), QStringLiteral("B"), QString(),
                                QStringLiteral("A"), QStringLiteral("B"), QString()}));
    r.dm->Settings.directories.clear();
    QCOMPARE(r.dm->NextSpoolDirectory(), QString());
}

void TestController::oneJobAtATime()
{
    Rig r;
    const QString a = r.dir(QStringLiteral("A"));
    const QString b = r.dir(QStringLiteral("B"));
    r.dm->Settings.directories = a + u';' + b;
    touch(a + QStringLiteral("/LST00001.PRN"));
    touch(b + QStringLiteral("/LST00002.PRN"));

    r.dm->Timer1Timer();
    QCOMPARE(r.started, QStringList{QStringLiteral("LST00001.PRN")});
    QVERIFY(r.view.calls.contains(QStringLiteral("animate")));
    // While the worker runs, ticks neither start a job nor move on to the next directory.
    r.dm->Timer1Timer();
    r.dm->Timer1Timer();
    QCOMPARE(r.started.size(), 1);
    QCOMPARE(r.dm->DirIndex, 1);
    r.finishJob();
    QCOMPARE(r.view.calls.last(), QStringLiteral("idle running"));

    QFile::remove(a + QStringLiteral("/LST00001.PRN")); // as the job would have archived it
    r.dm->Timer1Timer();
    QCOMPARE(r.started.last(), QStringLiteral("LST00002.PRN"));
    r.finishJob();
    // Paused: nothing starts.
    r.dm->Paused = true;
    r.dm->Timer1Timer();
    r.dm->Timer1Timer();
    QCOMPARE(r.started.size(), 2);
}

void TestController::emptyReportStopsTheScan()
{
    Rig r;
    const QString a = r.dir(QStringLiteral("A"));
    r.dm->Settings.directories = a;
    touch(a + QStringLiteral("/LST00001.PRN"), QByteArray());
    touch(a + QStringLiteral("/LST00002.PRN"));
    const QList<platform::DirEntry> order =
        platform::findMatches(a, QString::fromUtf16(TDataModule1::ReportPattern));
    r.dm->Timer1Timer();
    // The file system decides the order: a report after the empty one waits.
    if (order.first().size == 0)
        QVERIFY(r.started.isEmpty());
    else
        QCOMPARE(r.started, QStringList{QStringLiteral("LST00002.PRN")});
}

void TestController::skippedUntilChanged()
{
    Rig r;
    const QString a = r.dir(QStringLiteral("A"));
    r.dm->Settings.directories = a;
    const QString report = a + QStringLiteral("/LST00001.PRN");
    touch(report);
    QFile f(report);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                          QFileDevice::FileModificationTime));
    f.close();
    const quint32 stamp = platform::findFile(report)->dosTime;
    r.dm->SkipList << SkipEntry{report, stamp};
    QVERIFY(r.dm->IsSkipped(report));
    QVERIFY(!r.dm->IsSkipped(report.toLower())); // the path compares exactly
    r.dm->Timer1Timer();
    QVERIFY(r.started.isEmpty());
    // Nor from the re-print queue, where the entry stays unserved.
    r.dm->ReprintQueue << ReprintEntry{report, false};
    r.dm->Timer1Timer();
    QVERIFY(r.started.isEmpty());
    QVERIFY(!r.dm->ReprintQueue.first().Taken);

    touch(report, "rewritten"); // a new time stamp ends the skip
    r.dm->Timer1Timer();
    QCOMPARE(r.started.size(), 1);
}

void TestController::reprintQueueFirst()
{
    Rig r;
    const QString a = r.dir(QStringLiteral("A"));
    const QString archive = r.dir(QStringLiteral("A/BAKPRN"));
    r.dm->Settings.directories = a;
    touch(a + QStringLiteral("/LST00003.PRN"));
    const QString old = archive + QStringLiteral("/20240131-081530-LST00001.PRN");
    touch(old);
    r.dm->ReprintQueue << ReprintEntry{old, false} << ReprintEntry{old, false};

    r.dm->Timer1Timer();
    QCOMPARE(r.started.last(), QStringLiteral("20240131-081530-LST00001.PRN"));
    QVERIFY(r.dm->ReprintQueue.at(0).Taken);
    QCOMPARE(r.dm->DirIndex, 0);      // the queue's tick does not turn the directories
    r.dm->ReprintQueue.removeFirst(); // as the job's finishing step does
    r.finishJob();
    r.dm->Timer1Timer();
    QCOMPARE(r.started.size(), 2); // the second entry of the same path
    r.dm->ReprintQueue.removeFirst();
    r.finishJob();
    r.dm->Timer1Timer();
    QCOMPARE(r.started.last(), QStringLiteral("LST00003.PRN"));
}

void TestController::printByOnePauses()
{
    Rig r;
    const QString a = r.dir(QStringLiteral("A"));
    r.dm->Settings.directories = a;
    r.dm->Settings.printByOne = true;
    touch(a + QStringLiteral("/LST00001.PRN"));
    r.dm->Timer1Timer();
    QCOMPARE(r.started.size(), 1);
    QVERIFY(r.dm->Paused);
    QVERIFY(r.view.calls.contains(QStringLiteral("pause")));
}

void TestController::errorWithoutDialogIsShownByTheTick()
{
    Rig r;
    r.dm->SetWorkerError(QStringLiteral("Chyba X"));
    r.dm->Timer1Timer();
    QVERIFY(r.view.calls.contains(QStringLiteral("error Chyba X")));
    QVERIFY(r.dm->WorkerError().isEmpty());
    QVERIFY(r.dm->Paused); // the tick's error display pauses
    QVERIFY(r.dm->Timer1.isActive());
}

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"

// Documents followed from a private cupsd to the paper: a printer whose connection fails (with
// either error policy), a queue an administrator paused or closed, a scheduler that hangs or
// restarts while a job waits.
#include "core/jobs/QueueStatus.h"
#include "print/CupsClient.h"
#include "print/JobFollower.h"
#include "support/CupsFixture.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// A printer that takes the document and then fails, as one switched off does.
const QByteArray kFailingBackend = "cat >/dev/null\n"
                                   "echo 'ERROR: printer is switched off' >&2\n"
                                   "exit 1";
// A printer that takes a few seconds a page.
const QByteArray kSlowBackend = "cat >/dev/null\nsleep 3\nexit 0";

QStringList problemsIn(const QSignalSpy& spy)
{
    if (spy.isEmpty())
        return {};
    const QList<QVariant>& last = spy.last();
    return printerProblems(last.at(0).toString(), last.at(1).value<PrinterStatus>());
}

} // namespace

class TestJobFollower : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { m_cups.stop(); }
    void failedJobsAreTold_data();
    void failedJobsAreTold();
    void printerStateIsToldOncePerChange();
    void jobOutlivesAHungAndRestartedScheduler();

private:
    // Hands a small document to `queue` and follows it; the job id, or 0.
    int submit(JobFollower& follower, const QString& queue);

    CupsFixture m_cups;
    QTemporaryDir m_dir;
    QString m_document;
};

void TestJobFollower::initTestCase()
{
    if (!m_cups.start({u"paper"_s}))
        QSKIP(qPrintable(u"no private print server: "_s + m_cups.reason()));
    m_cups.exportToEnvironment();
    QVERIFY2(
        m_cups.addScriptQueue(u"abort"_s, kFailingBackend, {u"printer-error-policy=abort-job"_s}),
        qPrintable(m_cups.reason()));
    QVERIFY2(
        m_cups.addScriptQueue(u"stop"_s, kFailingBackend, {u"printer-error-policy=stop-printer"_s}),
        qPrintable(m_cups.reason()));
    QVERIFY2(m_cups.addScriptQueue(u"slow"_s, kSlowBackend), qPrintable(m_cups.reason()));
    m_document = m_dir.filePath(u"report.pdf"_s);
    QFile pdf(m_document);
    QVERIFY(pdf.open(QIODevice::WriteOnly));
    pdf.write("%PDF-1.4\n%%EOF\n");
}

int TestJobFollower::submit(JobFollower& follower, const QString& queue)
{
    QString error;
    const int id = cupsclient::printFile(queue, m_document, u"Výplatní listina"_s, {}, error);
    if (id > 0)
        follower.follow(SubmittedJob{id, queue, u"LST00001.PRN"_s, u"Výplatní listina"_s,
                                     u"/spool/BAKPRN/20240131-081530-LST00001.PRN"_s});
    return id;
}

void TestJobFollower::failedJobsAreTold_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<bool>("ends");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QString>("told"); // in the job's reason, or the printer's problems

    QTest::newRow("printed") << u"paper"_s << true << false << QString();
    QTest::newRow("printer fails, the job is aborted")
        << u"abort"_s << true << true
        << u"tiskový server úlohu přerušil (printer is switched off)"_s;
    // The queue stops and keeps the job (and every later one): the printer's state says so.
    QTest::newRow("printer fails, the queue stops")
        << u"stop"_s << false << false
        << u"Tiskárna stop je zastavena (printer is switched off)."_s;
}

void TestJobFollower::failedJobsAreTold()
{
    QFETCH(QString, queue);
    QFETCH(bool, ends);
    QFETCH(bool, fails);
    QFETCH(QString, told);

    JobFollower follower;
    follower.setIntervals(100, 300);
    follower.setPrinter(queue);
    QSignalSpy ended(&follower, &JobFollower::jobEnded);
    QSignalSpy printer(&follower, &JobFollower::printerChanged);
    QSignalSpy waiting(&follower, &JobFollower::waitingChanged);
    const int id = submit(follower, queue);
    QVERIFY(id > 0);
    if (ends) {
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 20000);
        const auto job = ended.first().at(0).value<SubmittedJob>();
        const auto status = ended.first().at(1).value<JobStatus>();
        QCOMPARE(job.jobId, id);
        QCOMPARE(jobFailed(status), fails);
        if (fails) {
            QCOMPARE(jobFailureReason(status), told);
            QCOMPARE(jobFailureText(job, jobFailureReason(status)),
                     u"Sestava LST00001.PRN „Výplatní listina“ nebyla na tiskárně %1 vytištěna: "
                     "%2."_s.arg(queue, told));
        }
        QTRY_COMPARE(waiting.last().at(1).toInt(), 0);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(problemsIn(printer).contains(told), 20000);
        QCOMPARE(waiting.last().at(1).toInt(), 1);
        QVERIFY(ended.isEmpty());
        QVERIFY(m_cups.runTool(u"cancel"_s, {u"-a"_s, queue}));
        QVERIFY(m_cups.runTool(u"cupsenable"_s, {queue}));
        QTRY_COMPARE(ended.size(), 1);
        QVERIFY(jobFailed(ended.first().at(1).value<JobStatus>()));
    }
}

void TestJobFollower::printerStateIsToldOncePerChange()
{
    JobFollower follower;
    follower.setIntervals(50, 50);
    QSignalSpy printer(&follower, &JobFollower::printerChanged);
    follower.setPrinter(u"paper"_s);
    QTRY_COMPARE(printer.size(), 1);
    QCOMPARE(problemsIn(printer), QStringList());

    QVERIFY(m_cups.runTool(u"cupsdisable"_s, {u"paper"_s}));
    QTRY_COMPARE(printer.size(), 2);
    QCOMPARE(problemsIn(printer), QStringList{u"Tiskárna paper je pozastavena."_s});
    QCOMPARE(printerProblemWord(printer.last().at(1).value<PrinterStatus>()), u"pozastavena"_s);
    QVERIFY(m_cups.runTool(u"cupsreject"_s, {u"paper"_s}));
    QTRY_COMPARE(printer.size(), 3);
    QCOMPARE(problemsIn(printer).last(), u"Tiskárna paper nepřijímá úlohy."_s);
    QTest::qWait(500); // many more questions, nothing new to tell
    QCOMPARE(printer.size(), 3);

    QVERIFY(m_cups.runTool(u"cupsenable"_s, {u"paper"_s}));
    QVERIFY(m_cups.runTool(u"cupsaccept"_s, {u"paper"_s}));
    QTRY_VERIFY(problemsIn(printer).isEmpty());
}

void TestJobFollower::jobOutlivesAHungAndRestartedScheduler()
{
    JobFollower follower;
    follower.setIntervals(100, 100);
    follower.setPrinter(u"slow"_s);
    QSignalSpy ended(&follower, &JobFollower::jobEnded);
    QSignalSpy printer(&follower, &JobFollower::printerChanged);
    QTRY_COMPARE(printer.size(), 1);
    QVERIFY(submit(follower, u"slow"_s) > 0);

    QVERIFY(m_cups.hang());
    QTRY_COMPARE_WITH_TIMEOUT(problemsIn(printer), QStringList{u"Tiskový server neodpovídá."_s},
                              20000);
    m_cups.resume();
    QVERIFY2(m_cups.restart(500), qPrintable(m_cups.reason()));
    QTRY_VERIFY_WITH_TIMEOUT(!ended.isEmpty(), 30000);
    // The job went on after the restart (or was done before it): it printed.
    QVERIFY(!jobFailed(ended.first().at(1).value<JobStatus>()));
    QTRY_VERIFY(problemsIn(printer).isEmpty());
}

QTEST_GUILESS_MAIN(TestJobFollower)
#include "tst_jobfollower.moc"

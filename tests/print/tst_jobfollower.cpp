// Documents followed from a private cupsd to the paper: a printer whose connection fails (with
// either error policy), a queue an administrator paused or closed, a scheduler that hangs or
// restarts while a job waits.
#include "core/jobs/QueueStatus.h"
#include "print/CupsClient.h"
#include "print/JobFollower.h"
#include "support/CupsFixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

// A printer that takes the document and then fails, as one switched off does.
const QByteArray kFailingBackend = "cat >/dev/null\n"
                                   "echo 'ERROR: printer is switched off' >&2\n"
                                   "exit 1";
// A printer that takes a few seconds a page.
const QByteArray kSlowBackend = "cat >/dev/null\nsleep 3\nexit 0";

// A one-page PDF document that the print server's filters accept.
QByteArray onePagePdf()
{
    const QList<QByteArray> objects = {
        "<</Type/Catalog/Pages 2 0 R>>", "<</Type/Pages/Kids[3 0 R]/Count 1>>",
        "<</Type/Page/Parent 2 0 R/MediaBox[0 0 595 842]/Contents 4 0 R>>",
        "<</Length 0>>stream\n\nendstream"};
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype at : offsets)
        pdf += QByteArray::number(at).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<</Size " + QByteArray::number(objects.size() + 1) +
           "/Root 1 0 R>>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

// The newest count of waiting reports; -1 before the first.
int waitingIn(const QSignalSpy& spy)
{
    return spy.isEmpty() ? -1 : spy.last().at(1).toInt();
}

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
    void printerStoppedInTheMiddleOfAJob();
    void serverThatKeepsNoHistory();

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
    pdf.write(onePagePdf());
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
        QTRY_COMPARE(waitingIn(waiting), 0);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(problemsIn(printer).contains(told), 20000);
        QTRY_COMPARE(waitingIn(waiting), 1);
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
    QCOMPARE(problemsIn(printer), (QStringList{u"Tiskárna paper je pozastavena."_s,
                                               u"Tiskárna paper nepřijímá úlohy."_s}));
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

void TestJobFollower::printerStoppedInTheMiddleOfAJob()
{
    // A driverless printer on the network, made by the print server's own test printer. It
    // needs a system bus to start: a private one stands in.
    const QString printerTool =
        QStandardPaths::findExecutable(u"ippeveprinter"_s, {u"/usr/sbin"_s, u"/usr/bin"_s});
    if (printerTool.isEmpty())
        QSKIP("no ippeveprinter (package cups-ipp-utils)");
    QProcess bus;
    bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address"_s});
    if (!bus.waitForReadyRead(10000))
        QSKIP("no dbus-daemon");
    const auto endBus = qScopeGuard([&bus] {
        bus.kill();
        bus.waitForFinished();
    });
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    // The printer takes a few seconds a job, and says when it has begun one.
    const QString started = m_dir.filePath(u"started"_s);
    const QString command = m_dir.filePath(u"print-command"_s);
    QFile script(command);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\ntouch " + QFile::encodeName(started) + "\nsleep 4\n");
    script.close();
    QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));
    QProcess printer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, QString::fromUtf8(bus.readLine().trimmed()));
    printer.setProcessEnvironment(env);
    printer.setProcessChannelMode(QProcess::MergedChannels);
    printer.start(printerTool, {u"-p"_s, QString::number(port), u"-n"_s, u"localhost"_s, u"-r"_s,
                                u"off"_s, u"-d"_s, m_dir.path(), u"-c"_s, command, u"-f"_s,
                                u"application/pdf"_s, u"office"_s});
    const auto endPrinter = qScopeGuard([&printer] {
        ::kill(pid_t(printer.processId()), SIGCONT);
        printer.kill();
        printer.waitForFinished();
    });
    QTRY_VERIFY_WITH_TIMEOUT(
        [port] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            return socket.waitForConnected(200);
        }(),
        10000);
    QVERIFY2(m_cups.addEverywhereQueue(u"office"_s, u"ipp://localhost:%1/ipp/print"_s.arg(port)),
             qPrintable(m_cups.reason()));

    JobFollower follower;
    follower.setIntervals(100, 100);
    follower.setPrinter(u"office"_s);
    QSignalSpy ended(&follower, &JobFollower::jobEnded);
    QSignalSpy waiting(&follower, &JobFollower::waitingChanged);
    QVERIFY(submit(follower, u"office"_s) > 0);
    QTRY_VERIFY2_WITH_TIMEOUT(QFile::exists(started),
                              qPrintable(m_cups.errorLog()
                                             .split(u'\n')
                                             .filter(u"[Job"_s)
                                             .filter(QRegularExpression(u"^[EWI]|PID|exit|STATE"_s))
                                             .join(u'\n')),
                              30000);

    // Stopped in the middle of the job: it is not printed, and it does not count as printed.
    QCOMPARE(::kill(pid_t(printer.processId()), SIGSTOP), 0);
    QTest::qWait(3000);
    QVERIFY(ended.isEmpty());
    QTRY_COMPARE(waitingIn(waiting), 1);
    // Going on, it finishes the job, and only then is the report printed.
    QCOMPARE(::kill(pid_t(printer.processId()), SIGCONT), 0);
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 60000);
    QVERIFY(!jobFailed(ended.first().at(1).value<JobStatus>()));
    QTRY_COMPARE(waitingIn(waiting), 0);
}

// A server set to keep no job history forgets a job the moment it ends: its end is unknown, and
// the printed report must not be told as not printed, which would have the clerk print it twice.
void TestJobFollower::serverThatKeepsNoHistory()
{
    CupsFixture forgetful;
    forgetful.setExtraConfiguration(u"PreserveJobHistory No"_s);
    QVERIFY2(forgetful.start({u"paper"_s}), qPrintable(forgetful.reason()));
    forgetful.exportToEnvironment();
    const auto back = qScopeGuard([this] { m_cups.exportToEnvironment(); });
    JobFollower follower;
    follower.setIntervals(100, 300);
    QSignalSpy ended(&follower, &JobFollower::jobEnded);
    const int id = submit(follower, u"paper"_s);
    QVERIFY(id > 0);
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 20000);
    const auto status = ended.first().at(1).value<JobStatus>();
    QCOMPARE(status.state, JobStatus::State::Forgotten);
    QVERIFY(!jobFailed(status));
}

QTEST_GUILESS_MAIN(TestJobFollower)
#include "tst_jobfollower.moc"

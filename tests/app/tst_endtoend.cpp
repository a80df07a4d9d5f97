// The tray program as users run it: the real tarnyx, offscreen, with a configuration of its own,
// printing onto a private cupsd whose queue captures every job, from two spool directories.
#include "support/CupsFixture.h"
#include "support/TestHive.h"
#include "support/TestReport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

// The program's waits in these tests are a tenth of its own (a tick of 200 ms), and in
// kRoundsMs it makes a few rounds of ticks over both spool directories: what has not happened
// by then is not going to.
constexpr int kTimePercent = 10;
constexpr int kRoundsMs = 6 * 2000 * kTimePercent / 100;

QByteArray report(int number, const QByteArray& time, int linesPerPage = 60)
{
    return reportText({1, "20240131", time, "Sestava " + QByteArray::number(number), 60, 1,
                       linesPerPage, 0, 1250, 100, 0},
                      "Mzdy " + QByteArray::number(number) + "\r\n");
}

// Puts a report into a spool directory in one step, as a finished file.
void drop(const QString& dir, const QString& name, const QByteArray& content)
{
    const QString temp = dir + QStringLiteral("/.incoming");
    QFile f(temp);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
    f.close();
    QVERIFY(QFile::rename(temp, dir + u'/' + name));
}

QStringList reportsIn(const QString& dir)
{
    return QDir(dir).entryList({QStringLiteral("LST*.PRN")}, QDir::Files);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void printsFromBothDirectoriesOnce();
    void waitsForTheWriter();
    void faultyReportStaysAndPauses();
    void secondCopyEndsAtOnce();
    void eraseDeletesPrintedReports();
    void terminatedWhilePrintingKeepsTheReport();
    void terminatedDuringTheGreeting();
    void twoLoginsPrintEachReportOnce();

private:
    void startProgram(bool erase, const QByteArray& moreHive = {});
    // Sends SIGTERM and returns the milliseconds until the program ended (-1: it did not).
    qint64 terminate(QProcess& program);
    void stopProgram();
    QProcessEnvironment environment() const;

    CupsFixture m_cups;
    QTemporaryDir m_dir;
    QString m_a;
    QString m_b;
    QProcess m_tarnyx;
};

QProcessEnvironment TestEndToEnd::environment() const
{
    QProcessEnvironment env = m_cups.environment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TMPDIR"), m_dir.filePath(QStringLiteral("tmp")));
    env.insert(QStringLiteral("TARNYX_TEST_TIME_PERCENT"), QString::number(kTimePercent));
    return env;
}

void TestEndToEnd::startProgram(bool erase, const QByteArray& moreHive)
{
    writeSettingsHive(m_dir.filePath(QStringLiteral("config/Morvane/registry.reg")),
                      "\"Directories\"=\"" + QFile::encodeName(m_a) + ";" + QFile::encodeName(m_b) +
                          "\"\r\n\"Printer\"=\"mzdy\"\r\n" + "\"Erase\"=dword:0000000" +
                          (erase ? "1" : "0") + "\r\n\"Iconize\"=dword:00000000\r\n" + moreHive);
    m_tarnyx.setProcessEnvironment(environment());
    m_tarnyx.setWorkingDirectory(m_dir.path());
    m_tarnyx.start(QStringLiteral(TARNYX_GUI), {QStringLiteral("/log")});
    QVERIFY(m_tarnyx.waitForStarted());
}

void TestEndToEnd::stopProgram()
{
    if (m_tarnyx.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(m_tarnyx.processId()), SIGTERM);
    if (!m_tarnyx.waitForFinished(15000)) {
        m_tarnyx.kill();
        m_tarnyx.waitForFinished();
    }
}

void TestEndToEnd::initTestCase()
{
    QVERIFY2(m_cups.start({QStringLiteral("mzdy")}, QStringLiteral("mzdy")),
             qPrintable(m_cups.reason()));
    QDir(m_dir.path()).mkpath(QStringLiteral("A"));
    QDir(m_dir.path()).mkpath(QStringLiteral("B"));
    QDir(m_dir.path()).mkpath(QStringLiteral("run"));
    QDir(m_dir.path()).mkpath(QStringLiteral("tmp"));
    QFile::setPermissions(m_dir.filePath(QStringLiteral("run")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_a = m_dir.filePath(QStringLiteral("A"));
    m_b = m_dir.filePath(QStringLiteral("B"));
    startProgram(false);
}

void TestEndToEnd::cleanupTestCase()
{
    stopProgram();
}

void TestEndToEnd::printsFromBothDirectoriesOnce()
{
    drop(m_a, QStringLiteral("LST00001.PRN"), report(1, "08150000"));
    drop(m_b, QStringLiteral("LST00002.PRN"), report(2, "08160000"));
    QVERIFY(!m_cups.waitForJob(QStringLiteral("mzdy"), 30000).isEmpty());
    QVERIFY(!m_cups.waitForJob(QStringLiteral("mzdy"), 30000).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(reportsIn(m_a).isEmpty() && reportsIn(m_b).isEmpty(), 30000);
    QVERIFY(QFile::exists(m_a + QStringLiteral("/BAKPRN/20240131-081500-LST00001.PRN")));
    QVERIFY(QFile::exists(m_b + QStringLiteral("/BAKPRN/20240131-081600-LST00002.PRN")));
    // Each report once.
    QVERIFY(m_cups.waitForJob(QStringLiteral("mzdy"), kRoundsMs).isEmpty());
    QCOMPARE(m_cups.capturedJobs(QStringLiteral("mzdy")).size(), 2);
}

void TestEndToEnd::waitsForTheWriter()
{
    // The payroll program still holds the report open while it writes it.
    const QString path = m_a + QStringLiteral("/LST00003.PRN");
    QFile partial(path);
    QVERIFY(partial.open(QIODevice::WriteOnly));
    partial.write(report(3, "08170000"));
    partial.flush();
    QProcess writer;
    writer.start(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), QStringLiteral("exec 3>>\"$0\"; echo open; exec sleep 60"), path});
    QVERIFY(writer.waitForReadyRead(10000));
    partial.close();
    // Longer than a round of ticks over both directories: the held report is looked at by its
    // wake-up and by a tick, and left alone.
    QVERIFY(m_cups.waitForJob(QStringLiteral("mzdy"), kRoundsMs).isEmpty());
    QVERIFY(QFile::exists(path));
    writer.kill();
    writer.waitForFinished();
    QVERIFY(!m_cups.waitForJob(QStringLiteral("mzdy"), 30000).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(path), 30000);
}

void TestEndToEnd::faultyReportStaysAndPauses()
{
    drop(m_a, QStringLiteral("LST00004.PRN"), report(4, "08180000", 121));
    // The error dialog holds the flow: neither the faulty report nor the next one is printed.
    // The dialog is up once the event log has the error.
    const auto logged = [this] {
        QFile log(m_dir.filePath(QStringLiteral("tarnyx.log")));
        return log.open(QIODevice::ReadOnly) && log.readAll().contains("LST00004.PRN");
    };
    QTRY_VERIFY_WITH_TIMEOUT(logged(), 30000);
    drop(m_b, QStringLiteral("LST00005.PRN"), report(5, "08190000"));
    QVERIFY(m_cups.waitForJob(QStringLiteral("mzdy"), kRoundsMs).isEmpty());
    QVERIFY(QFile::exists(m_a + QStringLiteral("/LST00004.PRN")));
    QVERIFY(QFile::exists(m_b + QStringLiteral("/LST00005.PRN")));
    QCOMPARE(m_tarnyx.state(), QProcess::Running);
}

void TestEndToEnd::secondCopyEndsAtOnce()
{
    QProcess second;
    second.setProcessEnvironment(environment());
    second.setWorkingDirectory(m_dir.path());
    second.start(QStringLiteral(TARNYX_GUI), {});
    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(m_tarnyx.state(), QProcess::Running);
}

void TestEndToEnd::eraseDeletesPrintedReports()
{
    stopProgram();
    QCOMPARE(m_tarnyx.exitCode(), 0);
    QFile log(m_dir.filePath(QStringLiteral("tarnyx.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("]DataModuleDestroy>end\r\n"));

    QFile::remove(m_a + QStringLiteral("/LST00004.PRN")); // the faulty one, answered by hand
    startProgram(true);
    // The report left waiting is printed now, and deleted afterwards.
    QVERIFY(!m_cups.waitForJob(QStringLiteral("mzdy"), 30000).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(m_b + QStringLiteral("/LST00005.PRN")), 30000);
    QVERIFY(!QFile::exists(m_b + QStringLiteral("/BAKPRN/20240131-081900-LST00005.PRN")));
}

qint64 TestEndToEnd::terminate(QProcess& program)
{
    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(program.processId()), SIGTERM);
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished();
        return -1;
    }
    return clock.elapsed();
}

void TestEndToEnd::terminatedWhilePrintingKeepsTheReport()
{
    stopProgram();
    // Each new title is asked about: the job waits for the user-interface thread when the session
    // ends, the moment at which a job used to be freed under the worker.
    startProgram(false, "\"Orientation\"=\"255\"\r\n");
    QByteArray text = report(6, "08200000", 60);
    text.replace(";1;60;", ";100;60;");
    for (int line = 0; line < 100 * 60; ++line)
        text += "Mzdy " + QByteArray::number(line) + " ^B1tu^B0cne " + QByteArray(60, '.') + "\r\n";
    drop(m_a, QStringLiteral("LST00006.PRN"), text);
    const QString tmp = m_dir.filePath(QStringLiteral("tmp"));
    // The job's print folder exists once the job has selected its printer.
    QTRY_VERIFY_WITH_TIMEOUT(
        !QDir(tmp).entryList({QStringLiteral("tarnyx-print-*")}, QDir::Dirs).isEmpty(), 30000);
    QTest::qWait(300);
    const int jobs = m_cups.capturedJobs(QStringLiteral("mzdy")).size();
    const qint64 took = terminate(m_tarnyx);
    QVERIFY2(took >= 0 && took < 3500, qPrintable(QString::number(took)));
    QCOMPARE(m_tarnyx.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_tarnyx.exitCode(), 0);
    QFile kept(m_a + QStringLiteral("/LST00006.PRN"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QVERIFY(kept.readAll() == text);
    QCOMPARE(m_cups.capturedJobs(QStringLiteral("mzdy")).size(), jobs);
    QFile::remove(kept.fileName());
}

void TestEndToEnd::terminatedDuringTheGreeting()
{
    stopProgram();
    // The greeting after an installation waits for OK; the session ends meanwhile.
    QFile log(m_dir.filePath(QStringLiteral("tarnyx.log")));
    auto starts = [&log] {
        if (!log.open(QIODevice::ReadOnly))
            return qsizetype(0);
        const qsizetype n = log.readAll().count("---------- Start ---------");
        log.close();
        return n;
    };
    const qsizetype before = starts();
    startProgram(false, "\r\n[HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx]\r\n"
                        "\"FirstRun\"=dword:00000001\r\n");
    // Started, its signal handling in place; the greeting comes next.
    QTRY_VERIFY_WITH_TIMEOUT(starts() > before, 30000);
    QCOMPARE(m_tarnyx.state(), QProcess::Running);
    QVERIFY(terminate(m_tarnyx) >= 0);
    QCOMPARE(m_tarnyx.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_tarnyx.exitCode(), 0);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().endsWith("]DataModuleDestroy>end\r\n"));
}

void TestEndToEnd::twoLoginsPrintEachReportOnce()
{
    stopProgram();
    startProgram(false);
    // The same user logged in twice: another runtime directory, so the copies do not see each
    // other as running.
    QProcess second;
    QProcessEnvironment env = environment();
    const QString run2 = m_dir.filePath(QStringLiteral("run2"));
    QDir().mkpath(run2);
    QFile::setPermissions(run2,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), run2);
    second.setProcessEnvironment(env);
    second.setWorkingDirectory(m_dir.path());
    second.start(QStringLiteral(TARNYX_GUI), {});
    QVERIFY(second.waitForStarted());
    QTest::qWait(1500);
    QCOMPARE(second.state(), QProcess::Running);

    const int before = m_cups.capturedJobs(QStringLiteral("mzdy")).size();
    for (int i = 0; i < 6; ++i)
        drop(i % 2 ? m_b : m_a, QStringLiteral("LST%1.PRN").arg(10 + i, 5, 10, QChar(u'0')),
             report(10 + i, "0830" + QByteArray::number(10 + i) + "00"));
    QTRY_VERIFY_WITH_TIMEOUT(reportsIn(m_a).isEmpty() && reportsIn(m_b).isEmpty(), 40000);
    QTest::qWait(kRoundsMs); // a second print would come within a tick
    QCOMPARE(m_cups.capturedJobs(QStringLiteral("mzdy")).size(), before + 6);
    QVERIFY(terminate(second) >= 0);
    QCOMPARE(second.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"

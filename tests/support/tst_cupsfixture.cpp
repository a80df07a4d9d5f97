#include "CupsFixture.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

struct Result
{
    int exitCode = -1;
    QString output;
};

// Runs a CUPS client; an empty environment means this process's own.
Result run(const QString& program, const QStringList& arguments,
           const QProcessEnvironment& env = {})
{
    QProcess process;
    if (!env.isEmpty()) {
        process.setProcessEnvironment(env);
    }
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return {-1, u"timed out"_s};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAll())};
}

QByteArray onePagePdf(int width)
{
    return "%PDF-1.4\n"
           "1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
           "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
           "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 " +
           QByteArray::number(width) +
           " 200]>>endobj\n"
           "trailer<</Root 1 0 R>>\n"
           "%%EOF\n";
}

QString writeTemp(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        return {};
    }
    return f.fileName();
}

QByteArray contents(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// "request id is tarnyx-a-7 (1 file(s))" -> "7"
QString jobId(const QString& lpOutput)
{
    static const QRegularExpression pattern(u"request id is \\S+-(\\d+) "_s);
    return pattern.match(lpOutput).captured(1);
}

bool processGone(qint64 pid, const QString& dir)
{
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH) {
        return true;
    }
    // The id may have been reused by now; ours named its directory on the command line.
    QFile cmdline(u"/proc/%1/cmdline"_s.arg(pid));
    return !cmdline.open(QIODevice::ReadOnly) ||
           !cmdline.readAll().contains(QFile::encodeName(dir));
}

} // namespace

class TestCupsFixture : public QObject
{
    Q_OBJECT

private slots:
    void capturesEveryQueueByteForByte();
    void runsSideBySideAndLeavesNothingBehind();
    void refusesWhatItCannotSetUp_data();
    void refusesWhatItCannotSetUp();
};

void TestCupsFixture::capturesEveryQueueByteForByte()
{
    CupsFixture cups;
    QVERIFY2(cups.start({u"tarnyx-a"_s, u"tarnyx-b"_s}, u"tarnyx-b"_s), qPrintable(cups.reason()));
    const QProcessEnvironment env = cups.environment();

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray first = onePagePdf(200);
    const QByteArray second = onePagePdf(300);
    QByteArray binary;
    for (int i = 0; i < 1024; ++i) {
        binary.append(char(i % 256));
    }
    const QString title = u"Výplatní listina"_s;

    const Result one =
        run(u"lp"_s,
            {u"-d"_s, u"tarnyx-a"_s, u"-t"_s, title, writeTemp(dir, u"first.pdf"_s, first)}, env);
    QVERIFY2(one.exitCode == 0, qPrintable(one.output));
    const Result two = run(
        u"lp"_s, {u"-d"_s, u"tarnyx-a"_s, u"-n"_s, u"2"_s, writeTemp(dir, u"second.pdf"_s, second)},
        env);
    QVERIFY2(two.exitCode == 0, qPrintable(two.output));
    const Result three = run(
        u"lp"_s,
        {u"-d"_s, u"tarnyx-b"_s, u"-o"_s, u"raw"_s, writeTemp(dir, u"binary.bin"_s, binary)}, env);
    QVERIFY2(three.exitCode == 0, qPrintable(three.output));

    // Jobs of one queue come back in order, each once, and only in their own queue.
    const QString firstFile = cups.waitForJob(u"tarnyx-a"_s);
    QVERIFY2(!firstFile.isEmpty(), qPrintable(cups.errorLog()));
    QCOMPARE(contents(firstFile), first);
    const QHash<QString, QString> attributes = CupsFixture::jobAttributes(firstFile);
    QCOMPARE(attributes.value(u"title"_s), title);
    QCOMPARE(attributes.value(u"job-id"_s), jobId(one.output));
    const QString secondFile = cups.waitForJob(u"tarnyx-a"_s);
    QVERIFY2(!secondFile.isEmpty(), qPrintable(cups.errorLog()));
    QCOMPARE(contents(secondFile), second);
    QCOMPARE(CupsFixture::jobAttributes(secondFile).value(u"job-id"_s), jobId(two.output));
    QCOMPARE(CupsFixture::jobAttributes(secondFile).value(u"copies"_s), u"2"_s);
    const QString binaryFile = cups.waitForJob(u"tarnyx-b"_s);
    QVERIFY2(!binaryFile.isEmpty(), qPrintable(cups.errorLog()));
    QCOMPARE(contents(binaryFile), binary);

    QCOMPARE(cups.waitForJob(u"tarnyx-a"_s, 300), QString());
    QCOMPARE(cups.capturedJobs(u"tarnyx-a"_s), QStringList({firstFile, secondFile}));
    QCOMPARE(cups.capturedJobs(u"tarnyx-b"_s), QStringList({binaryFile}));
    QTest::ignoreMessage(QtWarningMsg, "CupsFixture::waitForJob: unknown queue no-such-queue");
    QCOMPARE(cups.waitForJob(u"no-such-queue"_s, 0), QString());

    // Clients that inherit this process's environment see the private default.
    cups.exportToEnvironment();
    const Result lpstat = run(u"lpstat"_s, {u"-d"_s});
    QVERIFY2(lpstat.output.contains(u"system default destination: tarnyx-b"_s),
             qPrintable(lpstat.output));
}

void TestCupsFixture::runsSideBySideAndLeavesNothingBehind()
{
    std::optional<CupsFixture> left(std::in_place);
    std::optional<CupsFixture> right(std::in_place);
    QVERIFY2(left->start(), qPrintable(left->reason()));
    QVERIFY2(right->start(), qPrintable(right->reason()));
    QVERIFY(left->serverSocket() != right->serverSocket());

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString leftPdf = writeTemp(dir, u"left.pdf"_s, onePagePdf(100));
    const QString rightPdf = writeTemp(dir, u"right.pdf"_s, onePagePdf(400));
    const Result toLeft = run(u"lp"_s, {u"-d"_s, u"tarnyx-test"_s, leftPdf}, left->environment());
    QVERIFY2(toLeft.exitCode == 0, qPrintable(toLeft.output));
    const Result toRight =
        run(u"lp"_s, {u"-d"_s, u"tarnyx-test"_s, rightPdf}, right->environment());
    QVERIFY2(toRight.exitCode == 0, qPrintable(toRight.output));
    QCOMPARE(contents(left->waitForJob(u"tarnyx-test"_s)), onePagePdf(100));
    QCOMPARE(contents(right->waitForJob(u"tarnyx-test"_s)), onePagePdf(400));
    // No default was asked for.
    QVERIFY(!run(u"lpstat"_s, {u"-d"_s}, left->environment()).output.contains(u"tarnyx"_s));

    const qint64 leftPid = left->processId();
    const qint64 rightPid = right->processId();
    const QString leftDir = left->directory();
    const QString rightDir = right->directory();
    QVERIFY(leftPid > 0 && rightPid > 0);

    left.reset();
    QVERIFY(processGone(leftPid, leftDir));
    QVERIFY(!QFile::exists(leftDir));
    QVERIFY(right->isRunning());
    right->stop();
    QVERIFY(!right->isRunning());
    QVERIFY(processGone(rightPid, rightDir));
    QVERIFY(QFile::exists(right->directory())); // captured files outlive stop()
    right.reset();
    QVERIFY(!QFile::exists(rightDir));
}

void TestCupsFixture::refusesWhatItCannotSetUp_data()
{
    QTest::addColumn<QStringList>("queues");
    QTest::addColumn<QString>("defaultQueue");
    QTest::addColumn<QString>("reasonPart");

    QTest::newRow("no queue") << QStringList() << QString() << u"no queue"_s;
    QTest::newRow("blank in a name") << QStringList({u"a b"_s}) << QString() << u"\"a b\""_s;
    QTest::newRow("slash in a name") << QStringList({u"../x"_s}) << QString() << u"\"../x\""_s;
    QTest::newRow("name twice") << QStringList({u"q"_s, u"q"_s}) << QString() << u"\"q\""_s;
    QTest::newRow("default not a queue")
        << QStringList({u"q"_s}) << u"other"_s << u"default queue \"other\""_s;
}

void TestCupsFixture::refusesWhatItCannotSetUp()
{
    QFETCH(QStringList, queues);
    QFETCH(QString, defaultQueue);
    QFETCH(QString, reasonPart);

    CupsFixture cups;
    QVERIFY(!cups.start(queues, defaultQueue));
    QVERIFY2(cups.reason().contains(reasonPart), qPrintable(cups.reason()));
    QVERIFY(!cups.isRunning());
}

QTEST_GUILESS_MAIN(TestCupsFixture)
#include "tst_cupsfixture.moc"

#include "core/archive/Archive.h"
#include "core/report/ReportHeader.h"
#include "support/OtherUser.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Whether both folders exist and lie on different file systems.
bool onTwoFileSystems(const QTemporaryDir& one, const QTemporaryDir& other)
{
    struct stat a, b;
    return one.isValid() && other.isValid() &&
           ::stat(QFile::encodeName(one.path()).constData(), &a) == 0 &&
           ::stat(QFile::encodeName(other.path()).constData(), &b) == 0 && a.st_dev != b.st_dev;
}

void writeFile(const QString& path, const QByteArray& data, mode_t mode = 0644)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(data), data.size());
    file.close();
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

ReportHeader header(const QString& path, const QByteArray& date = "20240131",
                    const QByteArray& time = "08153012")
{
    ReportHeader h(path);
    h.dateText = date;
    h.timeText = time;
    return h;
}

// Every file below `dir` (directories left out), relative to it.
QStringList filesBelow(const QString& dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(dir.size() + 1);
    return files;
}

} // namespace

class TestArchive : public QObject
{
    Q_OBJECT
private slots:
    void archiveReplacesAndMakesWritable();
    void eraseAndMissingFiles();
    void archiveOnOtherFileSystem();
    void linksOfAnotherUserCopyNothing();
    void headerFieldsStayInsideArchive_data();
    void headerFieldsStayInsideArchive();
};

void TestArchive::archiveReplacesAndMakesWritable()
{
    QTemporaryDir tmp;
    const QString report = tmp.path() + QStringLiteral("/Lst/LST00001.PRN");
    QVERIFY(QDir().mkpath(tmp.path() + QStringLiteral("/Lst")));
    QCOMPARE(archiveDirectory(report), tmp.path() + QStringLiteral("/Lst/BAKPRN"));
    QCOMPARE(archivedName(header(report)), QStringLiteral("20240131-081530-LST00001.PRN"));

    writeFile(report, "first\r\n", 0444);
    disposeReport(header(report), false);
    // Same name, same second, other hundredths: the newer report takes the archived name.
    writeFile(report, "second, longer\r\n", 0444);
    disposeReport(header(report, "20240131", "08153099"), false);

    const QString archived = QStringLiteral("Lst/BAKPRN/20240131-081530-LST00001.PRN");
    QCOMPARE(filesBelow(tmp.path()), QStringList(archived));
    QCOMPARE(readFile(tmp.filePath(archived)), QByteArray("second, longer\r\n"));
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(tmp.filePath(archived)).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0644));
}

void TestArchive::eraseAndMissingFiles()
{
    QTemporaryDir tmp;
    const QString report = tmp.path() + QStringLiteral("/LST00002.PRN");
    writeFile(report, "data");
    disposeReport(header(report), true);
    QVERIFY(!QFileInfo::exists(report));
    QVERIFY(!QFileInfo::exists(tmp.path() + QStringLiteral("/BAKPRN")));

    // Nothing left to dispose of: no crash, nothing appears.
    disposeReport(header(report), true);
    disposeReport(header(report), false);
    disposeReport(ReportHeader(), false);
    QCOMPARE(filesBelow(tmp.path()), QStringList());
}

void TestArchive::archiveOnOtherFileSystem()
{
    QTemporaryDir tmp;
    QTemporaryDir elsewhere(QStringLiteral("/dev/shm/tst_archive-XXXXXX"));
    if (!onTwoFileSystems(tmp, elsewhere))
        QSKIP("no second file system at hand");
    QVERIFY(QFile::link(elsewhere.path(), tmp.path() + QStringLiteral("/BAKPRN")));
    const QString report = tmp.path() + QStringLiteral("/LST00004.PRN");
    writeFile(report, "old");
    disposeReport(header(report), false);
    writeFile(report, "new", 0666);
    disposeReport(header(report), false);

    QVERIFY(!QFileInfo::exists(report));
    const QString archived = elsewhere.filePath(QStringLiteral("20240131-081530-LST00004.PRN"));
    QCOMPARE(filesBelow(elsewhere.path()),
             QStringList(QStringLiteral("20240131-081530-LST00004.PRN")));
    QCOMPARE(readFile(archived), QByteArray("new"));
    // The copy is no wider open than the report, and nobody but its owner may change it.
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(archived).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0644));
}

void TestArchive::linksOfAnotherUserCopyNothing()
{
    // Another user shares the spool directory (no sticky bit): their BAKPRN links to a folder of
    // theirs on another file system, and a link of theirs to the clerk's private file takes the
    // printed report's name just before it is archived.
    OTHER_USER_OR_SKIP();
    QTemporaryDir tmp;
    QTemporaryDir elsewhere(QStringLiteral("/dev/shm/tst_archive-XXXXXX"));
    if (!onTwoFileSystems(tmp, elsewhere))
        QSKIP("no second file system at hand");
    OtherUser::letThrough(tmp.path());
    QCOMPARE(::chmod(QFile::encodeName(elsewhere.path()).constData(), 01777), 0);
    const QString spool = tmp.filePath(QStringLiteral("spool"));
    const QString secret = tmp.filePath(QStringLiteral("private/secret"));
    const QString theirs = elsewhere.filePath(QStringLiteral("theirs"));
    QVERIFY(QDir().mkpath(QFileInfo(secret).path()) && QDir().mkpath(spool));
    writeFile(secret, "secret");
    QCOMPARE(::chmod(QFile::encodeName(QFileInfo(secret).path()).constData(), 0700), 0);
    QCOMPARE(::chmod(QFile::encodeName(spool).constData(), 0777), 0);
    QCOMPARE(OtherUser::shell(QStringLiteral("mkdir '%1' && ln -s '%1' '%2/BAKPRN' && "
                                             "ln -s '%3' '%2/planted'")
                                  .arg(theirs, spool, secret)),
             0);
    const QString report = spool + QStringLiteral("/LST00001.PRN");
    const QString planted = spool + QStringLiteral("/planted");
    writeFile(report, "report", 0600);
    QCOMPARE(::renameat2(AT_FDCWD, QFile::encodeName(report).constData(), AT_FDCWD,
                         QFile::encodeName(planted).constData(), RENAME_EXCHANGE),
             0);

    const DisposeResult kept = disposeReport(header(report), false);
    QCOMPARE(filesBelow(theirs), QStringList());
    QCOMPARE(readFile(planted), QByteArray("report"));
    QVERIFY(kept.outcome != DisposeResult::Disposed);

    // Into the clerk's own archive on the other file system, the link is not followed either.
    const QString mine = elsewhere.filePath(QStringLiteral("mine"));
    QVERIFY(QDir().mkpath(mine) && QFile::remove(spool + QStringLiteral("/BAKPRN")) &&
            QFile::link(mine, spool + QStringLiteral("/BAKPRN")));
    const DisposeResult failed = disposeReport(header(report), false);
    QCOMPARE(filesBelow(mine), QStringList());
    QCOMPARE(readFile(secret), QByteArray("secret"));
    QCOMPARE(failed.outcome, DisposeResult::Failed);
}

void TestArchive::headerFieldsStayInsideArchive_data()
{
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<QByteArray>("time");

    QTest::newRow("short date") << QByteArray("202401") << QByteArray("08153012");
    QTest::newRow("parent in date") << QByteArray("../../x") << QByteArray("08153012");
    QTest::newRow("NUL in date") << QByteArray("2024").append('\0').append("0131")
                                 << QByteArray("08153012");
    QTest::newRow("overlong accented date") << QByteArray(300, '\xe8') << QByteArray();
}

void TestArchive::headerFieldsStayInsideArchive()
{
    QFETCH(QByteArray, date);
    QFETCH(QByteArray, time);

    QTemporaryDir tmp;
    QVERIFY(QDir().mkpath(tmp.path() + QStringLiteral("/spool/Lst")));
    const QString report = tmp.path() + QStringLiteral("/spool/Lst/LST00003.PRN");
    writeFile(report, "data");

    disposeReport(header(report, date, time), false);

    // Archived, and the only file anywhere, directly in BAKPRN.
    const QStringList files = filesBelow(tmp.path());
    QCOMPARE(files.size(), 1);
    const QString prefix = QStringLiteral("spool/Lst/BAKPRN/");
    QVERIFY2(files[0].startsWith(prefix) && !files[0].mid(prefix.size()).contains(u'/'),
             qPrintable(files[0]));
    QVERIFY(files[0].endsWith(QStringLiteral("-LST00003.PRN")));
    QCOMPARE(readFile(tmp.filePath(files[0])), QByteArray("data"));

    // Archived, yet not listed by the archive tree, which shows "????????-??????-LST?????.PRN".
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral(R"(.{8}-.{6}-LST.{5}\.PRN)")));
    QVERIFY(!pattern.match(files[0].mid(prefix.size())).hasMatch());
}

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archive.moc"

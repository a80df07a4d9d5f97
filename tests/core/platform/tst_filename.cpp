// File names whose bytes are not valid UTF-8 (as Wine writes them under a legacy locale) go to
// the file system and back unchanged.
#include "core/platform/FileInfo.h"
#include "core/platform/FileName.h"
#include "core/platform/OutputFile.h"
#include "core/platform/SharedRead.h"
#include "core/platform/Trash.h"
#include "core/platform/WholeFile.h"
#include "core/platform/Wildcard.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool makeFile(const QByteArray& path, const QByteArray& content = "x")
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, content.constData(), size_t(content.size())) == content.size();
    return ::close(fd) == 0 && ok;
}

bool exists(const QByteArray& path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

QByteArray contentOf(const QByteArray& path)
{
    return platform::readWholeFile(platform::decodeFileName(path)).value_or("<unreadable>");
}

// The permission bits of a regular file; -1 for anything else.
int modeOf(const QByteArray& path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) ? int(st.st_mode & 07777)
                                                                      : -1;
}

} // namespace

class TestFileName : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void legacyNamesFoundOpenedAndTrashed();
    void replacedFilesIgnorePlantedWorkNames();
    void inPlaceRewriteKeepsOldContentOnFullDisk();
};

void TestFileName::roundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << QByteArray("LST00001.PRN");
    QTest::newRow("utf-8 czech") << QByteArray("V\xc3\xbdplatn\xc3\xad p\xc3\xa1ska.PRN");
    QTest::newRow("utf-8 four bytes") << QByteArray("a\xf0\x9f\x93\x84z");
    QTest::newRow("windows-1250") << QByteArray("Mzdov\xe1 \xfa\xe8t\xe1rna.PRN");
    QTest::newRow("lone 0xff") << QByteArray("good\xff.PRN");
    QTest::newRow("cut sequence at end") << QByteArray("x\xe2\x82");
    QTest::newRow("overlong slash") << QByteArray("a\xc0\xaf"
                                                  "b");
    QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80");
    QTest::newRow("above U+10FFFF") << QByteArray("\xf4\x90\x80\x80");
    QTest::newRow("continuation bytes only") << QByteArray("\x80\xbf\x80");
}

void TestFileName::roundTrip()
{
    QFETCH(QByteArray, bytes);
    const QString name = platform::decodeFileName(bytes);
    QCOMPARE(platform::encodeFileName(name), bytes);
    const bool valid = QString::fromUtf8(bytes).toUtf8() == bytes;
    QCOMPARE(platform::hasUndecodableBytes(name), !valid);
    if (valid)
        QCOMPARE(name, QString::fromUtf8(bytes)); // text as it always read
    QVERIFY(!platform::hasUndecodableBytes(platform::displayFileName(name)));
}

void TestFileName::legacyNamesFoundOpenedAndTrashed()
{
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    const QByteArray spool = QFile::encodeName(dir.path());
    const QByteArray raw = "LST0\xff\xe8"
                           "01.PRN";
    QVERIFY(makeFile(spool + '/' + raw, "report"));

    const QList<platform::DirEntry> found =
        platform::findMatches(dir.path(), QStringLiteral("LST?????.PRN"));
    QCOMPARE(found.size(), 1);
    const QString path = QDir(dir.path()).filePath(found.first().name);
    QCOMPARE(found.first().size, 6);
    QVERIFY(platform::findFile(path));
    QVERIFY(platform::identityOf(path));
    platform::SharedReadFile file;
    QCOMPARE(file.open(path), platform::SharedReadFile::Result::Opened);
    file.close();

    // Trashed twice under one name: two entries, each recording the original bytes.
    QVERIFY(platform::moveToTrash(path));
    QVERIFY(!exists(spool + '/' + raw));
    QVERIFY(makeFile(spool + '/' + raw));
    QVERIFY(platform::moveToTrash(path));
    const QByteArray trash = spool + "/data/Trash";
    QVERIFY(exists(trash + "/files/" + raw));
    QVERIFY(exists(trash + "/files/" + raw + ".2"));
    const std::optional<QByteArray> info = platform::readWholeFile(
        platform::decodeFileName(QByteArray(trash + "/info/" + raw + ".2.trashinfo")));
    QVERIFY(info);
    QVERIFY(info->contains(
        QByteArray("\nPath=" + spool.toPercentEncoding("/") + "/LST0%FF%E801.PRN\n")));
    QVERIFY(!platform::moveToTrash(dir.path())); // never a folder
}

// Where others may write, a name the work file could take may hold a link to another file: it is
// never written through. Each file ends with the permissions its writer gives it.
void TestFileName::replacedFilesIgnorePlantedWorkNames()
{
    QTemporaryDir dir;
    const QByteArray base = QFile::encodeName(dir.path());
    QVERIFY(makeFile(base + "/victim", "victim"));
    QVERIFY(makeFile(base + "/settings", "old")); // 0644: a file of the program's own ends 0600
    QCOMPARE(::symlink("victim", QByteArray(base + "/settings.tmp").constData()), 0);
    QVERIFY(platform::replaceWholeFile(dir.filePath(QStringLiteral("settings")), "new"));
    QCOMPARE(contentOf(base + "/settings"), "new");
    QCOMPARE(modeOf(base + "/settings"), 0600);

    QVERIFY(makeFile(base + "/saved.txt", "old"));
    QCOMPARE(::chmod(QByteArray(base + "/saved.txt").constData(), 0640), 0);
    QVERIFY(platform::saveOutputFile(dir.filePath(QStringLiteral("saved.txt")), "new").saved);
    QCOMPARE(contentOf(base + "/saved.txt"), "new");
    QCOMPARE(modeOf(base + "/saved.txt"), 0640);

    const QByteArray pid = QByteArray::number(qint64(::getpid()));
    QCOMPARE(::symlink("victim", QByteArray(base + "/.out.pdf.part-" + pid).constData()), 0);
    {
        platform::OutputFile out(dir.filePath(QStringLiteral("out.pdf")));
        QFile work(out.workPath()); // as the document writer opens it
        QVERIFY(work.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(work.write("document"), 8);
        work.close();
        QVERIFY(out.commit());
    }
    QCOMPARE(contentOf(base + "/out.pdf"), "document");
    QVERIFY(modeOf(base + "/out.pdf") > 0);
    QCOMPARE(contentOf(base + "/victim"), "victim");
}

// A log whose folder takes no new file is rewritten in place; a full disk leaves its old content.
void TestFileName::inPlaceRewriteKeepsOldContentOnFullDisk()
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    const QString log = dir.filePath(QStringLiteral("tarnyx.log"));
    QVERIFY(makeFile(folder + "/tarnyx.log", "old log"));
    QCOMPARE(::chmod(QByteArray(folder + "/tarnyx.log").constData(), 0666), 0);
    QCOMPARE(::chmod(folder.constData(), 0555), 0);
    const auto writable = qScopeGuard([&] { ::chmod(folder.constData(), 0755); });
    // Root may create files anywhere: the save runs as someone else.
    QVERIFY(::geteuid() != 0 || ::seteuid(65534) == 0);
    const auto root = qScopeGuard([] { ::seteuid(::getuid()); });
    if (::access(folder.constData(), X_OK) != 0)
        QSKIP("another user cannot reach the temporary folder");

    // The disk takes no more than 10 bytes of a file.
    struct rlimit before;
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
    struct rlimit full = before;
    full.rlim_cur = 10;
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &full), 0);
    const platform::SaveResult failed = platform::saveOutputFile(log, QByteArray(100, 'x'), true);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldSignal);
    QVERIFY(failed.opened && !failed.saved && !failed.error.isEmpty());
    QCOMPARE(contentOf(folder + "/tarnyx.log"), "old log");

    QVERIFY(platform::saveOutputFile(log, "new", true).saved);
    QCOMPARE(contentOf(folder + "/tarnyx.log"), "new");
}

QTEST_GUILESS_MAIN(TestFileName)
#include "tst_filename.moc"

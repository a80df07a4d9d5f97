// File names whose bytes are not valid UTF-8 (as Wine writes them under a legacy locale) go to
// the file system and back unchanged.
#include "core/platform/FileInfo.h"
#include "core/platform/FileName.h"
#include "core/platform/SharedRead.h"
#include "core/platform/Trash.h"
#include "core/platform/WholeFile.h"
#include "core/platform/Wildcard.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
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

} // namespace

class TestFileName : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void legacyNamesFoundOpenedAndTrashed();
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

QTEST_GUILESS_MAIN(TestFileName)
#include "tst_filename.moc"

#include "core/platform/RegistryFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using platform::RegistryFile;
using platform::RegistryHive;
using platform::RegKind;
using platform::RegValue;

namespace {

const QString kKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Test");

RegValue dword(const QString& name, quint32 v)
{
    RegValue value;
    value.name = name;
    value.kind = RegKind::Dword;
    value.dword = v;
    return value;
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

} // namespace

class TestRegistryFile : public QObject
{
    Q_OBJECT
private slots:
    void missingFileIsEmptyAndFirstWriteCreatesIt();
    void seesChangesMadeByOthers();
    void damagedFileIsSetAsideAndDefaultsApply();
    void declinedChangeWritesNothing();
    void unreadableFileIsToldOnceAndNeverWritten();
    void twoProcessesWritingAtOnceLoseNothing();
    void lockIsNeverALinkAndOneForEveryName();
};

// The lock file is not opened through a link, which could lead anywhere, and lies beside the file
// written, so that writers through a link of the user's and through the file's own name exclude
// each other.
void TestRegistryFile::lockIsNeverALinkAndOneForEveryName()
{
    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("real.reg"));
    const QString link = dir.filePath(QStringLiteral("link.reg"));
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QFile::link(real, link));
    QVERIFY(QFile::link(elsewhere, real + QStringLiteral(".lock")));
    const auto setA = [](RegistryHive& h) {
        h.setValue(kKey, dword(QStringLiteral("A"), 1));
        return true;
    };
    QVERIFY(!RegistryFile(link).modify(setA));
    QVERIFY(!QFileInfo::exists(elsewhere));

    QVERIFY(QFile::remove(real + QStringLiteral(".lock")));
    QVERIFY(RegistryFile(link).modify(setA));
    QCOMPARE(RegistryFile(real).read().findValue(kKey, QStringLiteral("A"))->dword, 1u);
    struct stat st;
    QCOMPARE(::lstat(QFile::encodeName(real + QStringLiteral(".lock")).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, 0600u);
    QVERIFY(!QFileInfo::exists(link + QStringLiteral(".lock")));
}

void TestRegistryFile::unreadableFileIsToldOnceAndNeverWritten()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("registry.reg"));
    QVERIFY(QDir().mkpath(path)); // unreadable as a file, even for root
    const RegistryFile file(path);
    QVERIFY(file.read().keys().isEmpty());
    QVERIFY(!file.modify([](RegistryHive& h) {
        h.setValue(kKey, dword(QStringLiteral("A"), 1));
        return true;
    }));
    QVERIFY(QFileInfo(path).isDir());
    QVERIFY(RegistryFile::takeNotice().startsWith(QStringLiteral("Soubor nastavení ")));
    file.read();
    QVERIFY(RegistryFile::takeNotice().isEmpty()); // told once
}

void TestRegistryFile::missingFileIsEmptyAndFirstWriteCreatesIt()
{
    QTemporaryDir dir;
    const RegistryFile file(dir.filePath(QStringLiteral("sub/dir/registry.reg")));
    QVERIFY(file.read().keys().isEmpty());
    QVERIFY(file.modify([](RegistryHive& h) {
        h.setValue(kKey, dword(QStringLiteral("A"), 1));
        return true;
    }));
    QCOMPARE(file.read().findValue(kKey, QStringLiteral("A"))->dword, 1u);
    // Nothing but the hive and its lock file is left behind.
    QStringList entries = QDir(dir.filePath(QStringLiteral("sub/dir"))).entryList(QDir::Files);
    entries.sort();
    QCOMPARE(entries,
             (QStringList{QStringLiteral("registry.reg"), QStringLiteral("registry.reg.lock")}));
}

void TestRegistryFile::seesChangesMadeByOthers()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("registry.reg"));
    const RegistryFile file(path);
    QVERIFY(file.modify([](RegistryHive& h) {
        h.setValue(kKey, dword(QStringLiteral("A"), 1));
        return true;
    }));
    QCOMPARE(file.read().findValue(kKey, QStringLiteral("A"))->dword, 1u);
    // An administrator edits the file in place; the next read must not answer from memory.
    writeFile(path,
              "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Test]\n\"A\"=dword:00000002\n\"B\"=\"x\"\n");
    const RegistryHive hive = file.read();
    QCOMPARE(hive.findValue(kKey, QStringLiteral("A"))->dword, 2u);
    QCOMPARE(hive.findValue(kKey, QStringLiteral("B"))->text, QStringLiteral("x"));
}

void TestRegistryFile::damagedFileIsSetAsideAndDefaultsApply()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("registry.reg"));
    const QByteArray damaged = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X\n";
    writeFile(path, damaged);
    const RegistryFile file(path);
    // Reading alone never moves the file: a read-only command leaves it as it is.
    QVERIFY(file.read().keys().isEmpty());
    QVERIFY(QFile::exists(path));
    QVERIFY(!file.modify([](RegistryHive&) { return false; })); // a writer sets it aside
    QVERIFY(!QFile::exists(path));
    const QStringList aside =
        QDir(dir.path()).entryList({QStringLiteral("registry.reg.damaged-*")}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QFile kept(dir.filePath(aside.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), damaged);

    // The program goes on writing into a fresh file.
    QVERIFY(file.modify([](RegistryHive& h) {
        h.setValue(kKey, dword(QStringLiteral("A"), 7));
        return true;
    }));
    QCOMPARE(file.read().findValue(kKey, QStringLiteral("A"))->dword, 7u);

    // A second damage in the same second does not overwrite the first one kept aside.
    writeFile(path, damaged);
    QVERIFY(file.read().keys().isEmpty());
    QVERIFY(!file.modify([](RegistryHive&) { return false; }));
    QCOMPARE(
        QDir(dir.path()).entryList({QStringLiteral("registry.reg.damaged-*")}, QDir::Files).size(),
        2);
}

void TestRegistryFile::declinedChangeWritesNothing()
{
    QTemporaryDir dir;
    const RegistryFile file(dir.filePath(QStringLiteral("registry.reg")));
    QVERIFY(!file.modify([](RegistryHive& h) {
        h.setValue(kKey, dword(QStringLiteral("A"), 1));
        return false;
    }));
    QVERIFY(!QFile::exists(file.path()));
}

void TestRegistryFile::twoProcessesWritingAtOnceLoseNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("registry.reg"));
    constexpr int kWrites = 60;
    QProcess a;
    QProcess b;
    a.start(QStringLiteral(HIVE_WRITER), {path, QStringLiteral("a"), QString::number(kWrites)});
    b.start(QStringLiteral(HIVE_WRITER), {path, QStringLiteral("b"), QString::number(kWrites)});
    // This process writes at the same time through its own cache.
    const RegistryFile file(path);
    for (int i = 0; i < kWrites; ++i)
        QVERIFY(file.modify([i](RegistryHive& h) {
            h.setValue(kKey, dword(QStringLiteral("c_%1").arg(i), quint32(i)));
            return true;
        }));
    QVERIFY(a.waitForFinished(60000));
    QVERIFY(b.waitForFinished(60000));
    QCOMPARE(a.exitCode(), 0);
    QCOMPARE(b.exitCode(), 0);

    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const RegistryHive::ParseResult r = RegistryHive::parse(f.readAll());
    QVERIFY2(r.hive, qPrintable(r.error));
    const QString race = QStringLiteral("HKEY_CURRENT_USER\\Software\\Race");
    QCOMPARE(r.hive->valueNames(race).size(), 2 * kWrites);
    QCOMPARE(r.hive->valueNames(kKey).size(), kWrites);
    for (int i = 0; i < kWrites; ++i) {
        QVERIFY(r.hive->findValue(race, QStringLiteral("a_%1").arg(i)));
        QVERIFY(r.hive->findValue(race, QStringLiteral("b_%1").arg(i)));
    }
}

QTEST_GUILESS_MAIN(TestRegistryFile)
#include "tst_registryfile.moc"

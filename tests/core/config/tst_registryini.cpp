#include "core/config/RegistryIni.h"
#include "core/platform/Autostart.h"
#include "core/platform/RegistryFile.h"
#include "support/TestHive.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using platform::RegistryFile;
using platform::RegKind;

namespace {

const QString kRoot = QStringLiteral("Software\\Morvane\\Tarnyx");
const QString kSettingsKey =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx\\Settings");
const QString kRun = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run");

RegKind kindOf(const QString& name)
{
    const auto* v = RegistryFile(RegistryIni::hivePath()).read().findValue(kSettingsKey, name);
    return v ? v->kind : RegKind::Other;
}

} // namespace

class TestRegistryIni : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void integerOverTextKeepsTheTextKind();
    void readsAcrossKinds();
    void textsAreTrimmed();
    void sectionsListEraseDelete();
    void runKeyIsTheAutostartEntry();
    void batchSavesAllOrNothing();

private:
    std::unique_ptr<QTemporaryDir> m_home;
};

void TestRegistryIni::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home->path()));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_home->filePath(QStringLiteral("etc"))));
    QDir().mkpath(m_home->filePath(QStringLiteral("Morvane")));
}

void TestRegistryIni::integerOverTextKeepsTheTextKind()
{
    writeSettingsHive(RegistryIni::hivePath(),
                      "\"AsText\"=\"12\"\r\n\"AsNumber\"=dword:0000000c\r\n");
    const RegistryIni ini(kRoot);
    QVERIFY(ini.writeInteger(QStringLiteral("Settings"), QStringLiteral("AsText"), -7));
    QVERIFY(ini.writeInteger(QStringLiteral("Settings"), QStringLiteral("AsNumber"), 9));
    QVERIFY(ini.writeBool(QStringLiteral("Settings"), QStringLiteral("New"), true));
    QCOMPARE(kindOf(QStringLiteral("AsText")), RegKind::Sz);
    QCOMPARE(ini.readString(QStringLiteral("Settings"), QStringLiteral("AsText"), QString()),
             QStringLiteral("-7"));
    QCOMPARE(kindOf(QStringLiteral("AsNumber")), RegKind::Dword);
    QCOMPARE(kindOf(QStringLiteral("New")), RegKind::Dword);
    QCOMPARE(ini.readInteger(QStringLiteral("Settings"), QStringLiteral("New"), 5), 1);
    // A text written over a number makes it a text.
    QVERIFY(ini.writeString(QStringLiteral("Settings"), QStringLiteral("AsNumber"),
                            QStringLiteral("x")));
    QCOMPARE(kindOf(QStringLiteral("AsNumber")), RegKind::Sz);
}

void TestRegistryIni::readsAcrossKinds()
{
    writeSettingsHive(RegistryIni::hivePath(),
                      "\"Num\"=dword:ffffffff\r\n\"Text\"=\" 42 \"\r\n\"Junk\"=\"4x\"\r\n"
                      "\"One\"=\"1\"\r\n\"Blob\"=hex:01\r\n");
    const RegistryIni ini(kRoot);
    const QString s = QStringLiteral("Settings");
    QCOMPARE(ini.readInteger(s, QStringLiteral("Num"), 0), -1);
    QCOMPARE(ini.readInteger(s, QStringLiteral("Text"), 0), 42);
    QCOMPARE(ini.readInteger(s, QStringLiteral("Junk"), 3), 3);
    QCOMPARE(ini.readInteger(s, QStringLiteral("Missing"), 3), 3);
    QCOMPARE(ini.readInteger(QStringLiteral("NoSuchSection"), QStringLiteral("Num"), 4), 4);
    QCOMPARE(ini.readBool(s, QStringLiteral("One"), false), true);
    QCOMPARE(ini.readBool(s, QStringLiteral("Junk"), true), true);
    QCOMPARE(ini.readBool(s, QStringLiteral("Junk"), false), false);
    // Reading a text stored as a number, or a number stored as binary data, fails.
    QCOMPARE(ini.readString(s, QStringLiteral("Num"), QStringLiteral("d")), std::nullopt);
    QCOMPARE(ini.readInteger(s, QStringLiteral("Blob"), 0), std::nullopt);
    QCOMPARE(ini.readString(s, QStringLiteral("Blob"), QString()), std::nullopt);
}

void TestRegistryIni::textsAreTrimmed()
{
    writeSettingsHive(RegistryIni::hivePath(), "\"Stored\"=\"  C:\\\\Lst  \"\r\n");
    const RegistryIni ini(kRoot);
    const QString s = QStringLiteral("Settings");
    QCOMPARE(ini.readString(s, QStringLiteral("Stored"), QString()), QStringLiteral("C:\\Lst"));
    QCOMPARE(ini.readString(s, QStringLiteral("Missing"), QStringLiteral(" def ")),
             QStringLiteral("def"));
    QVERIFY(ini.writeString(s, QStringLiteral("Written"), QStringLiteral("\r\n value \x01")));
    const auto* v = RegistryFile(RegistryIni::hivePath())
                        .read()
                        .findValue(kSettingsKey, QStringLiteral("Written"));
    QCOMPARE(v->text, QStringLiteral("value"));
}

void TestRegistryIni::sectionsListEraseDelete()
{
    const std::unique_ptr<RegistryIni> ini = openSettings();
    const QString list = QStringLiteral("Settings\\LstList");
    QVERIFY(ini->writeString(list, QStringLiteral("Výplatní listina"), QStringLiteral("1")));
    QVERIFY(ini->writeString(list, QStringLiteral("Rekapitulace"), QStringLiteral("2")));
    QVERIFY(
        ini->writeString(QStringLiteral("Settings"), QStringLiteral("Font"), QStringLiteral("F")));
    QCOMPARE(ini->readSection(list),
             (QStringList{QStringLiteral("Výplatní listina"), QStringLiteral("Rekapitulace")}));
    QVERIFY(ini->deleteKey(list, QStringLiteral("VÝPLATNÍ LISTINA")));
    QVERIFY(ini->deleteKey(list, QStringLiteral("never there")));
    QCOMPARE(ini->readSection(list), QStringList{QStringLiteral("Rekapitulace")});
    // Erasing "Settings" takes its subkey with it.
    QVERIFY(ini->eraseSection(QStringLiteral("Settings")));
    QVERIFY(ini->readSection(list).isEmpty());
    QVERIFY(!ini->valueExists(QStringLiteral("Settings"), QStringLiteral("Font")));
}

void TestRegistryIni::runKeyIsTheAutostartEntry()
{
    const QString path = QStringLiteral("/opt/Mzdy a platy/tarnyx");
    const QString command = QStringLiteral("\"%1\" /min").arg(path);
    const RegistryIni run(kRun);
    QVERIFY(run.writeString(QString(), QStringLiteral("Tarnyx"), command));

    const QString entry = m_home->filePath(QStringLiteral("autostart/tarnyx.desktop"));
    QFile f(entry);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    QVERIFY2(text.contains(QStringLiteral("\nExec=\"/opt/Mzdy a platy/tarnyx\" /min\n")),
             qPrintable(text));
    QCOMPARE(run.readString(QString(), QStringLiteral("Tarnyx"), QString()), command);
    QVERIFY(run.valueExists(QString(), QStringLiteral("Tarnyx")));
    // The hive itself holds nothing of it.
    QVERIFY(!QFile::exists(RegistryIni::hivePath()));

    QVERIFY(run.deleteKey(QString(), QStringLiteral("Tarnyx")));
    QVERIFY(!QFile::exists(entry));
    QVERIFY(!run.valueExists(QString(), QStringLiteral("Tarnyx")));

    // The machine-wide entry: the same key under the other root, in the system's directory.
    const QString machine = m_home->filePath(QStringLiteral("etc/autostart/tarnyx.desktop"));
    QVERIFY(RegistryIni(kRun, RegRoot::LocalMachine)
                .writeString(QString(), QStringLiteral("Tarnyx"), command));
    QVERIFY(QFile::exists(machine));
    QVERIFY(RegistryIni(QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion"),
                        RegRoot::LocalMachine)
                .deleteKey(QStringLiteral("Run"), QStringLiteral("Tarnyx")));
    QVERIFY(!QFile::exists(machine));
}

void TestRegistryIni::batchSavesAllOrNothing()
{
    writeSettingsHive(RegistryIni::hivePath(), "\"Kept\"=\"1\"\r\n");
    const QString settings = QStringLiteral("Settings");
    const RegistryIni ini(kRoot);
    QFile hive(RegistryIni::hivePath());
    QVERIFY(hive.open(QIODevice::ReadOnly));
    const QByteArray before = hive.readAll();
    hive.close();

    // A batch that gives up leaves the file as it was.
    QVERIFY(!ini.batch([&] {
        return ini.writeString(settings, QStringLiteral("A"), QStringLiteral("x")) &&
               ini.deleteKey(settings, QStringLiteral("Kept")) && false;
    }));
    QVERIFY(hive.open(QIODevice::ReadOnly));
    QCOMPARE(hive.readAll(), before);
    hive.close();

    // Inside a batch, reads see the batch's own changes; afterwards the file holds them all.
    QVERIFY(ini.batch([&] {
        return ini.writeInteger(settings, QStringLiteral("N"), 3) &&
               ini.readInteger(settings, QStringLiteral("N"), 0) == 3 &&
               ini.deleteKey(settings, QStringLiteral("Kept")) &&
               !ini.valueExists(settings, QStringLiteral("Kept"));
    }));
    QCOMPARE(ini.readSection(settings), QStringList{QStringLiteral("N")});
}

QTEST_GUILESS_MAIN(TestRegistryIni)
#include "tst_registryini.moc"

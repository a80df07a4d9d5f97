#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/config/SettingsConstants.h"
#include "core/platform/CommandLine.h"
#include "core/platform/PrinterCatalog.h"
#include "core/platform/RegistryFile.h"
#include "support/TestHive.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

class FakePrinters : public PrinterCatalog
{
public:
    QStringList names;
    QString defaultName;
    QString current = QStringLiteral("untouched");

    QStringList printerNames() const override { return names; }
    QString defaultPrinterName() const override { return defaultName; }
    QString currentPrinter() const override { return current; }
    void setCurrentPrinter(const QString& name) override { current = name; }
};

AppSettings loaded(const QByteArray& values, bool* complete = nullptr)
{
    writeSettingsHive(RegistryIni::hivePath(), values);
    FakePrinters printers;
    AppSettings s;
    const bool ok = s.load(printers);
    if (complete)
        *complete = ok;
    return s;
}

} // namespace

class TestAppSettings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { productKeys().productKey = QStringLiteral("Tarnyx"); }
    void init();
    void defaultsOnAnEmptyRegistry();
    void limits_data();
    void limits();
    void orientationText_data();
    void orientationText();
    void readsTextsAndFlagsStoredOddly();
    void failedReadLeavesTheRestAtZero();
    void printerValidation();
    void saveThenLoadGivesTheSameRecord();
    void constantsFromFile();

private:
    std::unique_ptr<QTemporaryDir> m_home;
};

void TestAppSettings::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home->path()));
}

void TestAppSettings::defaultsOnAnEmptyRegistry()
{
    FakePrinters printers;
    AppSettings s;
    QVERIFY(s.load(printers));
    QCOMPARE(s.directories, QDir::rootPath());
    QCOMPARE(s.printer, QString());
    QCOMPARE(printers.current, QStringLiteral("untouched"));
    QCOMPARE(s.font, QStringLiteral("Courier New"));
    QVERIFY(s.erase && s.iconize && s.showHints && s.verCheck && s.systemFont);
    QVERIFY(!s.autorun && !s.runPaused && !s.printByOne && !s.highPriority && !s.proxyServer);
    QCOMPARE(s.maxPortrait, 96);
    QCOMPARE(s.proxyAddr, QStringLiteral("127.0.0.1"));
    QCOMPARE(s.proxyPort, QStringLiteral("8080"));
    QCOMPARE(s.lastVerCheck, 0);
    QCOMPARE(s.indent, quint8(0));
    QCOMPARE(s.borders, QMargins());
    QCOMPARE(s.orientation, quint8(OrientByWidth));
    QCOMPARE(s.hintHidePause, 5000);

    // With a "Lst" directory beside the program, that is the spool directory.
    const QString lst = QDir(platform::programDirectory()).filePath(QStringLiteral("Lst"));
    QVERIFY(QDir().mkpath(lst));
    QVERIFY(s.load(printers));
    QDir(lst).removeRecursively();
    QCOMPARE(s.directories, lst);
}

void TestAppSettings::limits_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QMargins>("borders");
    QTest::addColumn<int>("maxPortrait");
    QTest::addColumn<int>("indent");
    QTest::newRow("all above their limits")
        << QByteArray("\"MaxPortrait\"=dword:0000012c\r\n\"Indent\"=dword:00000007\r\n"
                      "\"BorderLeft\"=dword:00000046\r\n\"BorderTop\"=dword:00000046\r\n"
                      "\"BorderRight\"=dword:00000033\r\n\"BorderBottom\"=dword:00000065\r\n")
        << QMargins(50, 70, 50, 100) << 233 << 3;
    QTest::newRow("below their limits")
        << QByteArray("\"MaxPortrait\"=dword:0000000a\r\n\"Indent\"=dword:ffffffff\r\n"
                      "\"BorderLeft\"=dword:fffffffb\r\n\"BorderBottom\"=\"-1\"\r\n")
        << QMargins(0, 0, 0, 0) << 80 << 0;
    QTest::newRow("on the limits")
        << QByteArray("\"MaxPortrait\"=dword:000000e9\r\n\"Indent\"=\"3\"\r\n"
                      "\"BorderLeft\"=dword:00000032\r\n\"BorderTop\"=dword:00000064\r\n")
        << QMargins(50, 100, 0, 0) << 233 << 3;
}

void TestAppSettings::limits()
{
    QFETCH(QByteArray, stored);
    QFETCH(QMargins, borders);
    QFETCH(int, maxPortrait);
    QFETCH(int, indent);
    const AppSettings s = loaded(stored);
    QCOMPARE(s.borders, borders);
    QCOMPARE(s.maxPortrait, maxPortrait);
    QCOMPARE(int(s.indent), indent);
}

void TestAppSettings::orientationText_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("orientation");
    QTest::newRow("per title") << QByteArray("\"Orientation\"=\"255\"\r\n") << 255;
    QTest::newRow("landscape") << QByteArray("\"Orientation\"=\" 2 \"\r\n") << 2;
    QTest::newRow("not a number") << QByteArray("\"Orientation\"=\"abc\"\r\n") << 0;
    QTest::newRow("missing") << QByteArray() << 0;
    QTest::newRow("minus one keeps its low byte")
        << QByteArray("\"Orientation\"=\"-1\"\r\n") << 255;
    QTest::newRow("258 keeps its low byte") << QByteArray("\"Orientation\"=\"258\"\r\n") << 2;
    QTest::newRow("too large for a number")
        << QByteArray("\"Orientation\"=\"99999999999\"\r\n") << 0;
}

void TestAppSettings::orientationText()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, orientation);
    QCOMPARE(int(loaded(stored).orientation), orientation);
}

void TestAppSettings::readsTextsAndFlagsStoredOddly()
{
    const AppSettings s =
        loaded("\"Directories\"=\" /srv/lst;/home/mzdy \"\r\n\"Autorun\"=\"1\"\r\n"
               "\"Erase\"=\"x\"\r\n\"Iconize\"=dword:00000002\r\n\"WndTaskbar\"=dword:00000001\r\n"
               "\"HintHidePause\"=dword:00000064\r\n");
    QCOMPARE(s.directories, QStringLiteral("/srv/lst;/home/mzdy"));
    QVERIFY(s.autorun); // the text 1
    QVERIFY(s.erase);   // the text x gives the default
    QVERIFY(s.iconize); // any number but 0
    QVERIFY(!s.wndTaskbar);
    QCOMPARE(s.hintHidePause, 100);
}

void TestAppSettings::failedReadLeavesTheRestAtZero()
{
    // "Font" stored as a number cannot be read as text: the values before it are loaded, the
    // ones after it keep their zero state instead of their defaults.
    bool complete = true;
    AppSettings s = loaded("\"Directories\"=\"/srv/lst\"\r\n\"Font\"=dword:00000001\r\n"
                           "\"MaxPortrait\"=dword:00000078\r\n",
                           &complete);
    QVERIFY(!complete);
    QCOMPARE(s.directories, QStringLiteral("/srv/lst"));
    QCOMPARE(s.hintHidePause, 5000);
    AppSettings zero;
    zero.directories = s.directories;
    zero.hintHidePause = s.hintHidePause;
    QCOMPARE(s, zero);

    // Failing at the last value keeps everything before it.
    s = loaded("\"Orientation\"=dword:00000002\r\n\"Indent\"=dword:00000001\r\n", &complete);
    QVERIFY(!complete);
    QCOMPARE(s.indent, quint8(1));
    QVERIFY(s.systemFont);
    QCOMPARE(s.orientation, quint8(0));
}

void TestAppSettings::printerValidation()
{
    FakePrinters printers;
    printers.names = {QStringLiteral("Kancelar"), QStringLiteral("Mzdy_HP")};
    printers.defaultName = QStringLiteral("Kancelar");
    AppSettings s;

    writeSettingsHive(RegistryIni::hivePath(), "\"Printer\"=\"MZDY_hp\"\r\n");
    QVERIFY(s.load(printers));
    QCOMPARE(s.printer, QStringLiteral("Mzdy_HP"));
    QCOMPARE(printers.current, QStringLiteral("Mzdy_HP"));

    writeSettingsHive(RegistryIni::hivePath(), "\"Printer\"=\"Removed\"\r\n");
    QVERIFY(s.load(printers));
    QCOMPARE(s.printer, QStringLiteral("Kancelar"));
    QCOMPARE(printers.current, QStringLiteral("Kancelar"));
    QVERIFY(s.save());
    QCOMPARE(openSettings()->readString(QStringLiteral("Settings"), QStringLiteral("Printer"),
                                        QString()),
             QStringLiteral("Kancelar"));

    // Queues but no default: never the first one that comes, the stored name stays.
    printers.defaultName.clear();
    writeSettingsHive(RegistryIni::hivePath(), "\"Printer\"=\"Removed\"\r\n");
    QVERIFY(s.load(printers));
    QCOMPARE(s.printer, QStringLiteral("Removed"));

    printers.names.clear();
    QVERIFY(s.load(printers));
    QCOMPARE(s.printer, QString());
    QCOMPARE(printers.current, QString());
}

void TestAppSettings::saveThenLoadGivesTheSameRecord()
{
    FakePrinters printers;
    printers.names = {QStringLiteral("Mzdy")};
    AppSettings s;
    QVERIFY(s.load(printers));
    s.directories = QStringLiteral("/a;/b c");
    s.printer = QStringLiteral("Mzdy");
    s.font = QStringLiteral("Lucida Console");
    s.erase = false;
    s.printByOne = true;
    s.maxPortrait = 120;
    s.proxyServer = true;
    s.proxyAddr = QStringLiteral("proxy.local");
    s.proxyPort = QStringLiteral("3128");
    s.lastVerCheck = 46000;
    s.indent = 2;
    s.borders = QMargins(10, 20, 30, 40);
    s.orientation = OrientPerTitle;
    s.hintHidePause = 9000; // never written
    QVERIFY(s.save());

    AppSettings back;
    QVERIFY(back.load(printers));
    s.hintHidePause = 5000;
    QCOMPARE(back, s);
    const RegistryIni ini(productKeys().registryRoot());
    QVERIFY(!ini.valueExists(QStringLiteral("Settings"), QStringLiteral("HintHidePause")));
    const auto* orientation =
        platform::RegistryFile(RegistryIni::hivePath())
            .read()
            .findValue(QStringLiteral("HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx\\Settings"),
                       QStringLiteral("Orientation"));
    QCOMPARE(orientation->kind, platform::RegKind::Sz);
    QCOMPARE(orientation->text, QStringLiteral("255"));
}

void TestAppSettings::constantsFromFile()
{
    writeSettingsHive(RegistryIni::hivePath(),
                      "\"SocketTimeout\"=dword:000003e8\r\n\"urlTarnyx\"=\" http://x/y \"\r\n");
    loadSettingsConstants({});
    QCOMPARE(settingsConstants().socketTimeout, 5000);
    QCOMPARE(settingsConstants().urlFileInf, defaultUrlFileInf());
    QCOMPARE(settingsConstants().urlTarnyx, QStringLiteral("http://x/y"));
    const RegistryIni ini(productKeys().registryRoot());
    QVERIFY(!ini.valueExists(QStringLiteral("Settings"), QStringLiteral("urlFileInf")));

    writeSettingsHive(RegistryIni::hivePath(), "\"SocketTimeout\"=dword:000f4240\r\n");
    loadSettingsConstants({QStringLiteral("-regsavesettings")});
    QCOMPARE(settingsConstants().socketTimeout, 300000);
    QCOMPARE(ini.readInteger(QStringLiteral("Settings"), QStringLiteral("SocketTimeout"), 0),
             300000);
    QCOMPARE(ini.readString(QStringLiteral("Settings"), QStringLiteral("urlFileInf"), QString()),
             defaultUrlFileInf());

    // A failure ends the reading: what comes after stays empty.
    writeSettingsHive(RegistryIni::hivePath(), "\"urlFileInf\"=dword:00000001\r\n");
    loadSettingsConstants({});
    QCOMPARE(settingsConstants().socketTimeout, 30000);
    QVERIFY(settingsConstants().urlFileInf.isEmpty());
    QVERIFY(settingsConstants().urlTarnyx.isEmpty());
}

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"

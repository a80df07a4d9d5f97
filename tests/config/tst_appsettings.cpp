#include "common/TestHive.h"
#include "config/AppSettings.h"
#include "config/MvRegIni.h"
#include "config/TxConsts.h"
#include "platform/CommandLine.h"
#include "platform/RegistryFile.h"
#include "print/PrinterCatalog.h"

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

TAppSettings loaded(const QByteArray& values, bool* complete = nullptr)
{
    writeSettingsHive(TMvRegIni::hivePath(), values);
    FakePrinters printers;
    TAppSettings s;
    const bool ok = s.LoadSettings(printers);
    if (complete)
        *complete = ok;
    return s;
}

} // namespace

class TestAppSettings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Morvane().ProductKey = QStringLiteral("Tarnyx"); }
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
    void settingsConstants();

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
    TAppSettings s;
    QVERIFY(s.LoadSettings(printers));
    QCOMPARE(s.Directories, QDir::rootPath());
    QCOMPARE(s.Printer, QString());
    QCOMPARE(printers.current, QStringLiteral("untouched"));
    QCOMPARE(s.Font, QStringLiteral("Courier New"));
    QVERIFY(s.Erase && s.Iconize && s.ShowHints && s.VerCheck && s.SystemFont);
    QVERIFY(!s.Autorun && !s.RunPaused && !s.PrintByOne && !s.HighPriority && !s.ProxyServer);
    QCOMPARE(s.MaxPortrait, 96);
    QCOMPARE(s.ProxyAddr, QStringLiteral("127.0.0.1"));
    QCOMPARE(s.ProxyPort, QStringLiteral("8080"));
    QCOMPARE(s.LastVerCheck, 0);
    QCOMPARE(s.Indent, quint8(0));
    QCOMPARE(s.Borders, QMargins());
    QCOMPARE(s.Orientation, quint8(OrientByWidth));
    QCOMPARE(s.HintHidePause, 5000);

    // With a "Lst" directory beside the program, that is the spool directory.
    const QString lst = QDir(platform::programDirectory()).filePath(QStringLiteral("Lst"));
    QVERIFY(QDir().mkpath(lst));
    QVERIFY(s.LoadSettings(printers));
    QDir(lst).removeRecursively();
    QCOMPARE(s.Directories, lst);
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
    const TAppSettings s = loaded(stored);
    QCOMPARE(s.Borders, borders);
    QCOMPARE(s.MaxPortrait, maxPortrait);
    QCOMPARE(int(s.Indent), indent);
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
    QCOMPARE(int(loaded(stored).Orientation), orientation);
}

void TestAppSettings::readsTextsAndFlagsStoredOddly()
{
    const TAppSettings s =
        loaded("\"Directories\"=\" /srv/lst;/home/mzdy \"\r\n\"Autorun\"=\"1\"\r\n"
               "\"Erase\"=\"x\"\r\n\"Iconize\"=dword:00000002\r\n\"WndTaskbar\"=dword:00000001\r\n"
               "\"HintHidePause\"=dword:00000064\r\n");
    QCOMPARE(s.Directories, QStringLiteral("/srv/lst;/home/mzdy"));
    QVERIFY(s.Autorun); // the text 1
    QVERIFY(s.Erase);   // the text x gives the default
    QVERIFY(s.Iconize); // any number but 0
    QVERIFY(!s.WndTaskbar);
    QCOMPARE(s.HintHidePause, 100);
}

void TestAppSettings::failedReadLeavesTheRestAtZero()
{
    // "Font" stored as a number cannot be read as text: the values before it are loaded, the
    // ones after it keep their zero state instead of their defaults.
    bool complete = true;
    TAppSettings s = loaded("\"Directories\"=\"/srv/lst\"\r\n\"Font\"=dword:00000001\r\n"
                            "\"MaxPortrait\"=dword:00000078\r\n",
                            &complete);
    QVERIFY(!complete);
    QCOMPARE(s.Directories, QStringLiteral("/srv/lst"));
    QCOMPARE(s.HintHidePause, 5000);
    TAppSettings zero;
    zero.Directories = s.Directories;
    zero.HintHidePause = s.HintHidePause;
    QCOMPARE(s, zero);

    // Failing at the last value keeps everything before it.
    s = loaded("\"Orientation\"=dword:00000002\r\n\"Indent\"=dword:00000001\r\n", &complete);
    QVERIFY(!complete);
    QCOMPARE(s.Indent, quint8(1));
    QVERIFY(s.SystemFont);
    QCOMPARE(s.Orientation, quint8(0));
}

void TestAppSettings::printerValidation()
{
    FakePrinters printers;
    printers.names = {QStringLiteral("Kancelar"), QStringLiteral("Mzdy_HP")};
    printers.defaultName = QStringLiteral("Kancelar");
    TAppSettings s;

    writeSettingsHive(TMvRegIni::hivePath(), "\"Printer\"=\"MZDY_hp\"\r\n");
    QVERIFY(s.LoadSettings(printers));
    QCOMPARE(s.Printer, QStringLiteral("Mzdy_HP"));
    QCOMPARE(printers.current, QStringLiteral("Mzdy_HP"));

    writeSettingsHive(TMvRegIni::hivePath(), "\"Printer\"=\"Removed\"\r\n");
    QVERIFY(s.LoadSettings(printers));
    QCOMPARE(s.Printer, QStringLiteral("Kancelar"));
    QCOMPARE(printers.current, QStringLiteral("Kancelar"));
    QVERIFY(s.SaveSettings());
    QCOMPARE(OpenSettings()->ReadString(QStringLiteral("Settings"), QStringLiteral("Printer"),
                                        QString()),
             QStringLiteral("Kancelar"));

    // Queues but no default: never the first one that comes, the stored name stays.
    printers.defaultName.clear();
    writeSettingsHive(TMvRegIni::hivePath(), "\"Printer\"=\"Removed\"\r\n");
    QVERIFY(s.LoadSettings(printers));
    QCOMPARE(s.Printer, QStringLiteral("Removed"));

    printers.names.clear();
    QVERIFY(s.LoadSettings(printers));
    QCOMPARE(s.Printer, QString());
    QCOMPARE(printers.current, QString());
}

void TestAppSettings::saveThenLoadGivesTheSameRecord()
{
    FakePrinters printers;
    printers.names = {QStringLiteral("Mzdy")};
    TAppSettings s;
    QVERIFY(s.LoadSettings(printers));
    s.Directories = QStringLiteral("/a;/b c");
    s.Printer = QStringLiteral("Mzdy");
    s.Font = QStringLiteral("Lucida Console");
    s.Erase = false;
    s.PrintByOne = true;
    s.MaxPortrait = 120;
    s.ProxyServer = true;
    s.ProxyAddr = QStringLiteral("proxy.local");
    s.ProxyPort = QStringLiteral("3128");
    s.LastVerCheck = 46000;
    s.Indent = 2;
    s.Borders = QMargins(10, 20, 30, 40);
    s.Orientation = OrientPerTitle;
    s.HintHidePause = 9000; // never written
    QVERIFY(s.SaveSettings());

    TAppSettings back;
    QVERIFY(back.LoadSettings(printers));
    s.HintHidePause = 5000;
    QCOMPARE(back, s);
    const TMvRegIni ini(Morvane().RegistryRoot());
    QVERIFY(!ini.ValueExists(QStringLiteral("Settings"), QStringLiteral("HintHidePause")));
    const auto* orientation =
        platform::RegistryFile(TMvRegIni::hivePath())
            .read()
            .findValue(QStringLiteral("HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx\\Settings"),
                       QStringLiteral("Orientation"));
    QCOMPARE(orientation->kind, platform::RegKind::Sz);
    QCOMPARE(orientation->text, QStringLiteral("255"));
}

void TestAppSettings::settingsConstants()
{
    writeSettingsHive(TMvRegIni::hivePath(),
                      "\"SocketTimeout\"=dword:000003e8\r\n\"urlTarnyx\"=\" http://x/y \"\r\n");
    LoadSettingsConstants({});
    QCOMPARE(TxConsts().SocketTimeout, 5000);
    QCOMPARE(TxConsts().urlFileInf, DefaultUrlFileInf());
    QCOMPARE(TxConsts().urlTarnyx, QStringLiteral("http://x/y"));
    const TMvRegIni ini(Morvane().RegistryRoot());
    QVERIFY(!ini.ValueExists(QStringLiteral("Settings"), QStringLiteral("urlFileInf")));

    writeSettingsHive(TMvRegIni::hivePath(), "\"SocketTimeout\"=dword:000f4240\r\n");
    LoadSettingsConstants({QStringLiteral("-regsavesettings")});
    QCOMPARE(TxConsts().SocketTimeout, 300000);
    QCOMPARE(ini.ReadInteger(QStringLiteral("Settings"), QStringLiteral("SocketTimeout"), 0),
             300000);
    QCOMPARE(ini.ReadString(QStringLiteral("Settings"), QStringLiteral("urlFileInf"), QString()),
             DefaultUrlFileInf());

    // A failure ends the reading: what comes after stays empty.
    writeSettingsHive(TMvRegIni::hivePath(), "\"urlFileInf\"=dword:00000001\r\n");
    LoadSettingsConstants({});
    QCOMPARE(TxConsts().SocketTimeout, 30000);
    QVERIFY(TxConsts().urlFileInf.isEmpty());
    QVERIFY(TxConsts().urlTarnyx.isEmpty());
}

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"

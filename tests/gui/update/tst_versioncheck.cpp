#include "gui/update/VersionCheck.h"

#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/config/SettingsConstants.h"
#include "core/jobs/JobController.h"
#include "core/log/EventLog.h"
#include "gui/common/MessageDlg.h"
#include "gui/update/Installer.h"
#include "gui/update/NewVersionDialog.h"
#include "support/LoopbackHttpServer.h"
#include "support/NoPrinters.h"
#include "support/TestHive.h"
#include "support/TestUpdate.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

namespace {

using Hook = MessageDlgTestHook::Message;

// Each message box as "caption: text".
QStringList shownMessages()
{
    QStringList shown;
    for (const Hook& m : MessageDlgTestHook::lastMessages())
        shown << m.caption + QStringLiteral(": ") + m.text;
    return shown;
}

int storedLastVerCheck()
{
    return openSettings()
        ->readInteger(QStringLiteral("Settings"), QStringLiteral("LastVerCheck"), 0)
        .value_or(-1);
}

// Services that record what the check asks for instead of showing windows.
struct Recorder
{
    QStringList calls;
    bool accept = true;
    UpdateServices services()
    {
        UpdateServices s;
        s.ownVersion = QStringLiteral("1.5.0.12");
        s.details = [this](const QString& url) {
            calls << QStringLiteral("details ") + url;
            return QByteArray("Novinky");
        };
        s.askToInstall = [this](const VersionDescriptor& offer, const QByteArray& details) {
            calls << QStringLiteral("ask %1 %2 ").arg(offer.version).arg(offer.size) +
                         QString::fromLatin1(details);
            return accept;
        };
        s.download = [this](const VersionDescriptor& offer) {
            calls << QStringLiteral("download ") + offer.url;
            return QStringLiteral("/tmp/tarnyx.deb");
        };
        s.runInstaller = [this](const QString& path) {
            calls << QStringLiteral("run ") + path;
            return true;
        };
        return s;
    }
};

const QByteArray kDigest = QByteArray(64, 'a');

QByteArray descriptor(const QByteArray& version, const QByteArray& url = "http://x/tarnyx.deb",
                      const QByteArray& sha256 = kDigest)
{
    return "; published\r\n[Other]\r\nVersion=9.9\r\n[TARNYX]\r\n  version  = " + version +
           "\r\nURL=" + url + "\r\nSize=$100\r\nInfo=http://x/info.rtf\r\nSHA256=" + sha256 +
           "\r\n";
}

} // namespace

Q_DECLARE_METATYPE(LoopbackHttpServer::Answer)

class TestVersionCheck : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void manualCheckReportsEveryOutcome_data();
    void manualCheckReportsEveryOutcome();
    void descriptorThroughARealProxy();
    void automaticCheckWaitsForTheMainWindow();
    void automaticCheckStaysSilent();
    void startupStartsTheCheckWhenDue();
    void newVersionIsInstalledEndToEnd();
    void slowDetailsDoNotHoldTheProgram();

private:
    // Serves `body` as the descriptor, signed by `signer` (nullptr: no signature).
    void serveDescriptor(const QByteArray& body, const TestSigner* signer);

    TestSigner m_publisher;
    TestSigner m_stranger;
    QTemporaryDir m_home;
    LoopbackHttpServer m_server;
    AppSettings m_settings;
};

void TestVersionCheck::initTestCase()
{
    QVERIFY(m_home.isValid());
    QVERIFY(m_publisher.isValid() && m_stranger.isValid());
    m_publisher.trust();
    appLog().setActive(true);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    qunsetenv("http_proxy");
    qunsetenv("HTTP_PROXY");
    productKeys().productKey = QStringLiteral("Tarnyx");
    settingsConstants().socketTimeout = 2000;
    settingsConstants().urlFileInf = m_server.url(QStringLiteral("/reldp.inf"));
}

void TestVersionCheck::init()
{
    writeSettingsHive(RegistryIni::hivePath(), "\"LastVerCheck\"=dword:00000007\r\n");
    m_settings = AppSettings{};
    m_settings.verCheck = true;
    m_settings.lastVerCheck = 7;
    MessageDlgTestHook::clear();
    MessageDlgTestHook::setNextAnswers(QList<MsgButton>(8, MsgButton::Ok));
    appLog().clearEntries();
}

void TestVersionCheck::serveDescriptor(const QByteArray& body, const TestSigner* signer)
{
    m_server.setBody(QStringLiteral("/reldp.inf"), body);
    if (signer)
        m_server.setBody(QStringLiteral("/reldp.inf.sig"), signer->sign(body));
    else
        m_server.setBody(QStringLiteral("/reldp.inf.sig"), "gone", 404);
}

void TestVersionCheck::manualCheckReportsEveryOutcome_data()
{
    QTest::addColumn<LoopbackHttpServer::Answer>("answer");
    QTest::addColumn<int>("signer"); // 0 none, 1 the publisher, 2 a stranger
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("stored");
    using Answer = LoopbackHttpServer::Answer;
    const auto body = [](const QByteArray& b) {
        return Answer{{{LoopbackHttpServer::answerBytes(b)}}};
    };
    const QString notAvailable =
        QStringLiteral("Aktualizace: Informace o novější verzi nejsou k dispozici.");
    const QString noAnswer =
        QStringLiteral("Chyba: Informace o verzi nebylo možné zjistit.\r"
                       "Zkontrolujte připojení k Internetu a nastavení proxy.");

    const QString refused = QStringLiteral("\rNovější verzi proto nelze nabídnout.");
    QTest::newRow("newer, accepted")
        << body(descriptor("1.6")) << 1 << QStringList{}
        << QStringList{"details http://x/info.rtf", "ask 1.6 256 Novinky",
                       "download http://x/tarnyx.deb", "run /tmp/tarnyx.deb"}
        << true;
    QTest::newRow("same version")
        << body(descriptor("1.5.0.12")) << 1
        << QStringList{"Aktualizace: Máte aktuální verzi programu 1.5.0.12."} << QStringList{}
        << true;
    QTest::newRow("1.5 equals 1.5.0.0, older than own")
        << body(descriptor("1.5")) << 1
        << QStringList{"Aktualizace: Máte aktuální verzi programu 1.5.0.12."} << QStringList{}
        << true;
    QTest::newRow("no address") << body(descriptor("2.0", "")) << 1
                                << QStringList{"Chyba: Chyba popisu verze."} << QStringList{}
                                << true;
    QTest::newRow("no digest") << body(descriptor("2.0", "http://x/tarnyx.deb", "")) << 1
                               << QStringList{"Chyba: Chyba popisu verze."} << QStringList{}
                               << true;
    QTest::newRow("no section of ours") << body("[Tarnyx2]\r\nVersion=2.0\r\n") << 1
                                        << QStringList{notAvailable} << QStringList{} << false;
    // The mark stays in front of the section header, which is then not one.
    QTest::newRow("UTF-8 byte-order mark")
        << body("\xEF\xBB\xBF[Tarnyx]\r\nVersion=2.0\r\nURL=http://x/s\r\n") << 1
        << QStringList{notAvailable} << QStringList{} << false;
    QTest::newRow("404") << Answer{{{LoopbackHttpServer::answerBytes("gone", 404)}}} << 0
                         << QStringList{"Chyba: Informace o verzi se nepodařilo nalézt.",
                                        notAvailable}
                         << QStringList{} << false;
    QTest::newRow("broken off after a good status")
        << Answer{{{"HTTP/1.0 200 OK\r\nContent-Length: 500\r\n\r\n[Tarnyx]\r\nVersion=2.0"}}} << 0
        << QStringList{noAnswer, notAvailable} << QStringList{} << false;
    QTest::newRow("no answer in time")
        << Answer{{}, true} << 0 << QStringList{noAnswer, notAvailable} << QStringList{} << false;
    // Whoever answers in the publisher's place chooses the text, but cannot sign it.
    QTest::newRow("unsigned")
        << body(descriptor("99.0.0.0")) << 0
        << QStringList{"Chyba: Informace o verzi nejsou podepsány vydavatelem programu." + refused}
        << QStringList{} << false;
    QTest::newRow("signed by another key")
        << body(descriptor("99.0.0.0")) << 2
        << QStringList{"Chyba: Podpis informací o verzi není platný." + refused} << QStringList{}
        << false;
    QTest::newRow("signed, but not a package")
        << body(descriptor("99.0.0.0", "http://x/setup")) << 1
        << QStringList{"Chyba: Verzi 99.0.0.0 nelze nainstalovat: soubor http://x/setup není "
                       "instalační balíček."}
        << QStringList{} << true;
}

void TestVersionCheck::manualCheckReportsEveryOutcome()
{
    QFETCH(LoopbackHttpServer::Answer, answer);
    QFETCH(int, signer);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, calls);
    QFETCH(bool, stored);
    m_server.setAnswer(QStringLiteral("/reldp.inf"), answer);
    if (signer == 0) {
        m_server.setBody(QStringLiteral("/reldp.inf.sig"), "gone", 404);
    } else {
        // The body the answer carries, signed as it is.
        QByteArray sent = answer.pieces.value(0).bytes;
        sent = sent.mid(sent.indexOf("\r\n\r\n") + 4);
        m_server.setBody(QStringLiteral("/reldp.inf.sig"),
                         (signer == 1 ? m_publisher : m_stranger).sign(sent));
    }
    Recorder recorder;
    const bool started = runManualVersionCheck(m_settings, recorder.services());
    QCOMPARE(shownMessages(), messages);
    QCOMPARE(recorder.calls, calls);
    QCOMPARE(started, !calls.isEmpty());
    const int today = dayNumber(QDate::currentDate());
    QCOMPARE(storedLastVerCheck(), stored ? today : 7);
    QCOMPARE(m_settings.lastVerCheck, stored ? today : 7);
}

void TestVersionCheck::descriptorThroughARealProxy()
{
    const QString tinyproxy = QStandardPaths::findExecutable(QStringLiteral("tinyproxy"));
    if (tinyproxy.isEmpty())
        QSKIP("tinyproxy is not installed (scripts/setup installs it)");
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    QFile conf(m_home.filePath(QStringLiteral("tinyproxy.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("Port " + QByteArray::number(port) +
               "\nListen 127.0.0.1\nTimeout 10\nAllow 127.0.0.1\nLogLevel Error\n");
    conf.close();
    QProcess proxy;
    proxy.start(tinyproxy, {QStringLiteral("-d"), QStringLiteral("-c"), conf.fileName()});
    QVERIFY(proxy.waitForStarted());
    serveDescriptor(descriptor("1.7"), &m_publisher);
    m_settings.proxyServer = true;
    m_settings.proxyAddr = QStringLiteral("127.0.0.1");
    m_settings.proxyPort = QString::number(port);
    SignedDescriptor found;
    // The proxy needs a moment before it listens.
    QTRY_VERIFY((found = retrieveVersionDescriptor(m_settings)).http.isGood());
    proxy.kill();
    proxy.waitForFinished();
    QCOMPARE(found.signature, SignatureVerdict::Good);
    QCOMPARE(found.descriptor.version, QStringLiteral("1.7"));
    QCOMPARE(found.descriptor.size, 256);
    // The server got it from the proxy, which announces itself.
    QVERIFY(m_server.requests().constLast().contains("Via: "));
}

void TestVersionCheck::automaticCheckWaitsForTheMainWindow()
{
    serveDescriptor(descriptor("2.0.0.1"), &m_publisher);
    QMainWindow mainWindow;
    QWidget other;
    Recorder recorder;
    AutomaticVersionCheck check(m_settings, &mainWindow,
                                [&recorder] { return recorder.services(); });
    QSignalSpy started(&check, &AutomaticVersionCheck::installerStarted);
    other.show();
    QApplication::setActiveWindow(&other);
    check.start();
    QTRY_VERIFY(check.isPending());
    QVERIFY(recorder.calls.isEmpty()); // another window is active: the offer waits
    QCOMPARE(storedLastVerCheck(), 7);
    mainWindow.show();
    QApplication::setActiveWindow(&mainWindow);
    QTRY_COMPARE(started.count(), 1);
    QVERIFY(!check.isPending());
    QCOMPARE(recorder.calls.size(), 4);
    QCOMPARE(storedLastVerCheck(), dayNumber(QDate::currentDate()));
    // Once per run: activating the window again offers nothing more.
    QApplication::setActiveWindow(&other);
    QApplication::setActiveWindow(&mainWindow);
    QCOMPARE(recorder.calls.size(), 4);
}

void TestVersionCheck::automaticCheckStaysSilent()
{
    QMainWindow mainWindow;
    mainWindow.show();
    QApplication::setActiveWindow(&mainWindow);
    Recorder recorder;
    {
        // A stalled server: nothing shown, the day not stored, and ending the program does not
        // wait for the timeout.
        m_server.setAnswer(QStringLiteral("/reldp.inf"), {{}, true});
        settingsConstants().socketTimeout = 60000;
        AutomaticVersionCheck check(m_settings, &mainWindow, [&] { return recorder.services(); });
        check.start();
        QTRY_COMPARE(m_server.requests().size() > 0, true);
        settingsConstants().socketTimeout = 2000;
    }
    {
        m_server.setBody(QStringLiteral("/reldp.inf"), "gone", 404);
        AutomaticVersionCheck check(m_settings, &mainWindow, [&] { return recorder.services(); });
        check.start();
        QTRY_VERIFY(!check.isRunning());
        QVERIFY(!check.isPending());
    }
    QCOMPARE(storedLastVerCheck(), 7);
    {
        // A newer version without the publisher's signature: not offered, only recorded.
        serveDescriptor(descriptor("99.0.0.0"), &m_stranger);
        AutomaticVersionCheck check(m_settings, &mainWindow, [&] { return recorder.services(); });
        check.start();
        QTRY_VERIFY(!check.isRunning());
        QTRY_COMPARE(appLog().records().size(), 1);
        QVERIFY(!check.isPending());
        QVERIFY(appLog().records()[0].description.startsWith(
            u"Podpis informací o verzi není platný. Nová verze nebyla nabídnuta"));
    }
    QCOMPARE(storedLastVerCheck(), 7);
    // The same version: still nothing shown, but the day is stored.
    serveDescriptor(descriptor("1.5.0.12"), &m_publisher);
    AutomaticVersionCheck check(m_settings, &mainWindow, [&] { return recorder.services(); });
    check.start();
    QTRY_COMPARE(storedLastVerCheck(), dayNumber(QDate::currentDate()));
    QVERIFY(recorder.calls.isEmpty());
    QVERIFY(MessageDlgTestHook::lastMessages().isEmpty());
}

void TestVersionCheck::startupStartsTheCheckWhenDue()
{
    const int today = dayNumber(QDate::currentDate());
    struct Case
    {
        bool verCheck;
        int last;
        bool runPaused;
        int starts;
    };
    // Also a day in the future (the clock set back) makes it due; a paused start checks too.
    for (const Case& c : {Case{true, today, false, 0}, Case{true, today - 1, false, 1},
                          Case{true, today + 3, true, 1}, Case{false, 0, false, 0}}) {
        NoPrinters printers;
        JobController controller({}, printers);
        controller.settings().verCheck = c.verCheck;
        controller.settings().lastVerCheck = c.last;
        controller.settings().runPaused = c.runPaused;
        Recorder recorder;
        AutomaticVersionCheck check(controller.settings(), nullptr,
                                    [&recorder] { return recorder.services(); });
        int starts = 0;
        controller.setStartupHook(
            [&] { starts += check.startIfDue(QDate::currentDate()) ? 1 : 0; });
        controller.onStartup();
        QCOMPARE(starts, c.starts);
    }
}

void TestVersionCheck::newVersionIsInstalledEndToEnd()
{
    // The real windows, download and installation start: the signed descriptor names a package
    // and compressed details; the user accepts the offer, and pkexec's stand-in records what it
    // was asked to run as root.
    const QString tmp = m_home.filePath(QStringLiteral("tmp"));
    const QString bin = m_home.filePath(QStringLiteral("bin"));
    const QString record = m_home.filePath(QStringLiteral("pkexec.txt"));
    QVERIFY(QDir().mkpath(tmp) && QDir().mkpath(bin));
    qputenv("TMPDIR", QFile::encodeName(tmp));
    QFile pkexec(bin + QStringLiteral("/pkexec"));
    QVERIFY(pkexec.open(QIODevice::WriteOnly));
    pkexec.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + QFile::encodeName(record) +
                 ".part'\nmv '" + QFile::encodeName(record) + ".part' '" +
                 QFile::encodeName(record) + "'\n");
    pkexec.close();
    QVERIFY(pkexec.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin) + ':' + path);
    setUpdateHelperPath(QStringLiteral("/usr/libexec/tarnyx/tarnyx-install-update"));

    const QByteArray package = makeTestPackage(QStringLiteral("tarnyx"), QStringLiteral("99.0"));
    QVERIFY(!package.isEmpty());
    const QByteArray notes = "Nov\xe1 verze: www.morvane.example";
    m_server.setBody(QStringLiteral("/notes.bzip"), LoopbackHttpServer::zlibCompressed(notes));
    m_server.setBody(QStringLiteral("/tarnyx_99.0_all.deb"), package);
    const QByteArray text =
        "[Tarnyx]\r\nVersion=99.0\r\nURL=" +
        m_server.url(QStringLiteral("/tarnyx_99.0_all.deb")).toUtf8() +
        "\r\nSize=" + QByteArray::number(package.size()) +
        "\r\nInfo=" + m_server.url(QStringLiteral("/notes.bzip")).toUtf8() +
        "\r\nSHA256=" + QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex() +
        "\r\n";
    serveDescriptor(text, &m_publisher);
    QString shownNotes;
    QTimer accept;
    connect(&accept, &QTimer::timeout, this, [&shownNotes] {
        if (auto* dialog = qobject_cast<NewVersionDialog*>(QApplication::activeModalWidget())) {
            shownNotes = dialog->ui().details->toPlainText();
            dialog->ui().downloadButton->click();
        }
    });
    accept.start(20);
    const bool started = runManualVersionCheck(m_settings, updateServices(m_settings, nullptr));
    qputenv("PATH", path);
    QVERIFY(started);
    QCOMPARE(shownNotes, QStringLiteral("Nová verze: www.morvane.example"));
    QTRY_VERIFY(QFileInfo::exists(record));
    QFile args(record);
    QVERIFY(args.open(QIODevice::ReadOnly));
    const QStringList line = QString::fromUtf8(args.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(line.size(), 4);
    QCOMPARE(line[0], QStringLiteral("/usr/libexec/tarnyx/tarnyx-install-update"));
    // The descriptor, its signature and the package lie together in a new folder of the user's
    // alone, none of them a program.
    const QFileInfo folder(QFileInfo(line[3]).absolutePath());
    QVERIFY(folder.fileName().startsWith(u"tarnyx-update-"));
    QCOMPARE(folder.permissions() & 0x0077, 0);
    QCOMPARE(line.mid(1), (QStringList{folder.filePath() + u"/tarnyx.inf",
                                       folder.filePath() + u"/tarnyx.inf.sig",
                                       folder.filePath() + u"/tarnyx_99.0_all.deb"}));
    QVERIFY(!QFileInfo(line[3]).isExecutable());
    QFile kept(line[1]);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), text);
    QVERIFY(MessageDlgTestHook::lastMessages().isEmpty());
}

void TestVersionCheck::slowDetailsDoNotHoldTheProgram()
{
    // Details that come slowly, piece by piece: meanwhile the program's own timers (printing)
    // go on, as they did not while the retrieval ran on the windows' thread.
    LoopbackHttpServer::Answer slow{{{"HTTP/1.0 200 OK\r\n\r\n"}}};
    for (int i = 0; i < 15; ++i)
        slow.pieces.append({"x", 100});
    m_server.setAnswer(QStringLiteral("/info.txt"), slow);
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
    timer.start(50);
    const QByteArray text =
        updateServices(m_settings, nullptr).details(m_server.url(QStringLiteral("/info.txt")));
    QCOMPARE(text, QByteArray(15, 'x'));
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
}

QTEST_MAIN(TestVersionCheck)
#include "tst_versioncheck.moc"

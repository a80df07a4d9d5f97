#include "gui/update/DownloadWindow.h"
#include "gui/update/Installer.h"

#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/config/SettingsConstants.h"
#include "core/log/EventLog.h"
#include "core/update/VersionInfo.h"
#include "gui/common/MessageDlg.h"
#include "support/LoopbackHttpServer.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
// The status column's value for a file that came whole from the server but is not the one offered.
constexpr int kDamaged = -1;
} // namespace

class TestDownload : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init()
    {
        MessageDlgTestHook::clear();
        appLog().setActive(true);
        appLog().clearEntries();
    }
    void trickledInstallerIsSavedAndStarts();
    void packageGoesToThePackageManager();
    void failedTransferSavesNothing_data();
    void failedTransferSavesNothing();
    void breakStopsTheTransfer();
    void matchingDigestReplacesWithoutFollowingLinks();
    void nameOfTheTemporaryDirectoryIsNotWritten();
    void programDirectory();

private:
    QString tmp(const QString& name) const { return m_dir.filePath(u"tmp/" + name); }
    // Downloads `path` of the server, answering the message boxes; `duringWindow` runs once the
    // progress window is up.
    QString download(const QString& path, qint32 size, const QString& sha256 = {},
                     std::function<void(DownloadWindow*)> duringWindow = {});
    void expectDownloadError(int status, const QString& path);

    QTemporaryDir m_dir;
    LoopbackHttpServer m_server;
    AppSettings m_settings;
};

namespace {

// A 200 answer whose headers come after `firstPauseMs` and whose body follows in `count` pieces
// with a pause before each.
LoopbackHttpServer::Answer trickle(const QByteArray& body, int count, int firstPauseMs, int pauseMs)
{
    const QByteArray all = LoopbackHttpServer::answerBytes(body);
    const qsizetype headers = all.size() - body.size();
    LoopbackHttpServer::Answer answer{{{all.left(headers), firstPauseMs}}};
    const qsizetype step = (body.size() + count - 1) / count;
    for (qsizetype at = 0; at < body.size(); at += step)
        answer.pieces.append({body.mid(at, step), pauseMs});
    return answer;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

void TestDownload::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("tmp")));
    qputenv("TMPDIR", QFile::encodeName(m_dir.filePath(QStringLiteral("tmp"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    qunsetenv("http_proxy");
    qunsetenv("HTTP_PROXY");
    productKeys().productKey = QStringLiteral("Tarnyx");
    settingsConstants().socketTimeout = 1000;
}

QString TestDownload::download(const QString& path, qint32 size, const QString& sha256,
                               std::function<void(DownloadWindow*)> duringWindow)
{
    if (duringWindow) {
        QTimer::singleShot(0, this, [duringWindow] {
            auto* window = qobject_cast<DownloadWindow*>(QApplication::activeModalWidget());
            QVERIFY(window);
            duringWindow(window);
        });
    }
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    return downloadInstaller({size, QStringLiteral("2.1.0.7"), m_server.url(path), {}, sha256},
                             m_settings, nullptr);
}

void TestDownload::expectDownloadError(int status, const QString& path)
{
    const auto messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].kind, MsgKind::Error);
    if (status == kDamaged) {
        // The server answered well, the file is at fault: said so, and kept in the event log.
        QCOMPARE(messages[0].text,
                 QStringLiteral("Stažený soubor %1 je poškozen, aktualizaci nelze provést.")
                     .arg(m_server.url(path)));
        QVERIFY(!appLog().records().isEmpty());
        QVERIFY(appLog().records().last().description.startsWith(
            QStringLiteral("Stažený soubor %1 je poškozen: ").arg(m_server.url(path))));
        return;
    }
    QCOMPARE(messages[0].text, QStringLiteral("Chyba %1 při stahování souboru %2.")
                                   .arg(QString::number(status), m_server.url(path)));
}

void TestDownload::trickledInstallerIsSavedAndStarts()
{
    // The installer records its arguments, one a line.
    const QString argsFile = m_dir.filePath(QStringLiteral("args.txt"));
    const QByteArray script = "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                              QFile::encodeName(argsFile) + "'\n";
    m_server.setAnswer(QStringLiteral("/setup.sh"), trickle(script, 4, 300, 50));

    int shown = -1;
    const QString path = download(QStringLiteral("/setup.sh"), script.size(), {}, [&](auto* w) {
        QVERIFY(!w->ui().breakButton->isEnabled()); // no data has come yet
        connect(w->ui().progress, &QProgressBar::valueChanged, w, [&](int v) { shown = v; });
        QTRY_VERIFY(w->ui().breakButton->isEnabled());
        // Closing the window does not interrupt: the transfer ends and counts.
        w->close();
    });
    QCOMPARE(shown, script.size());
    QCOMPARE(path, tmp(QStringLiteral("setup.sh")));
    QCOMPARE(readAll(path), script);
    QVERIFY(QFile::permissions(path) & QFileDevice::ExeOwner);

    const QString appDir = m_dir.filePath(QStringLiteral("app dir"));
    QVERIFY(QDir().mkpath(appDir));
    QVERIFY(runInstaller(path, appDir + u'/', nullptr));
    QTRY_COMPARE(readAll(argsFile),
                 "/SP-\n/silent\n/noicons\n/dir=" + QFile::encodeName(appDir) + '\n');
}

void TestDownload::packageGoesToThePackageManager()
{
    // A stand-in for pkexec records what it would run as root, and the digest of the package it
    // was given, so the test sees that the downloaded file itself reaches apt-get.
    const QString bin = m_dir.filePath(QStringLiteral("bin"));
    const QString record = m_dir.filePath(QStringLiteral("pkexec.txt"));
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(writeFile(bin + u"/pkexec",
                      "#!/bin/sh\nfor a in \"$@\"; do last=$a; printf '%s\\n' \"$a\"; done > '" +
                          QFile::encodeName(record) + ".part'\nsha256sum \"$last\" >> '" +
                          QFile::encodeName(record) + ".part'\nmv '" + QFile::encodeName(record) +
                          ".part' '" + QFile::encodeName(record) + "'\n"));
    QVERIFY(
        QFile::setPermissions(bin + u"/pkexec", QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const QByteArray path = qgetenv("PATH");
    auto restorePath = qScopeGuard([path] { qputenv("PATH", path); });

    const QByteArray package = "!<arch>\ndebian-binary   ";
    const QString digest =
        QString::fromLatin1(QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex());
    m_server.setAnswer(QStringLiteral("/tarnyx_2.1.0.7_amd64.deb"),
                       {{{LoopbackHttpServer::answerBytes(package), 0}}});
    const QString file =
        download(QStringLiteral("/tarnyx_2.1.0.7_amd64.deb"), package.size(), digest);
    QCOMPARE(file, tmp(QStringLiteral("tarnyx_2.1.0.7_amd64.deb")));

    // The program's directory is not the user's to write; the package manager installs anyway.
    qputenv("PATH", QFile::encodeName(bin) + ":/usr/bin:/bin");
    MessageDlgTestHook::clear();
    QVERIFY(runInstaller(file, QStringLiteral("/proc/no-such-dir"), nullptr));
    QTRY_COMPARE(readAll(record),
                 "/usr/bin/apt-get\ninstall\n--yes\n-o\nDpkg::Options::=--force-confdef\n-o\n"
                 "Dpkg::Options::=--force-confold\n" +
                     QFile::encodeName(file) + '\n' + digest.toLatin1() + "  " +
                     QFile::encodeName(file) + '\n');
    QVERIFY(MessageDlgTestHook::lastMessages().isEmpty());

    // Without pkexec nothing starts, and the administrator learns where the package lies.
    qputenv("PATH", QFile::encodeName(m_dir.filePath(QStringLiteral("tmp"))));
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    QVERIFY(!runInstaller(file, QStringLiteral("/proc/no-such-dir"), nullptr));
    const auto messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].caption, QStringLiteral("Tarnyx - Aktualizace"));
    QVERIFY(messages[0].text.contains(file));
}

void TestDownload::failedTransferSavesNothing_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("hang");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("sha256");
    QTest::addColumn<int>("status");
    const QByteArray body(3 * 1024 * 1024, 'x');
    const QByteArray good = QCryptographicHash::hash("good", QCryptographicHash::Sha256).toHex();
    QTest::newRow("not found") << LoopbackHttpServer::answerBytes("gone", 404) << false << 4
                               << QString() << 404;
    QTest::newRow("silent server") << QByteArray() << true << 4 << QString() << 500;
    // Announced as 1000 bytes: a body of megabytes is refused, not held in memory.
    QTest::newRow("far beyond the size")
        << LoopbackHttpServer::answerBytes(body) << false << 1000 << QString() << kDamaged;
    QTest::newRow("wrong digest") << LoopbackHttpServer::answerBytes("evil") << false << 4
                                  << QString::fromLatin1(good) << kDamaged;
}

void TestDownload::failedTransferSavesNothing()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, hang);
    QFETCH(int, size);
    QFETCH(QString, sha256);
    QFETCH(int, status);
    const QString name = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    m_server.setAnswer(u'/' + name, {{{answer, 0}}, hang});
    QVERIFY(download(u'/' + name, size, sha256).isEmpty());
    expectDownloadError(status, u'/' + name);
    QVERIFY(!QFile::exists(tmp(name)));
}

void TestDownload::breakStopsTheTransfer()
{
    const QByteArray body(20000, 'b');
    m_server.setAnswer(QStringLiteral("/break.bin"), trickle(body, 20, 0, 100));
    const QString path = download(QStringLiteral("/break.bin"), body.size(), {}, [](auto* w) {
        QTRY_VERIFY(w->ui().breakButton->isEnabled());
        QTest::mouseClick(w->ui().breakButton, Qt::LeftButton);
    });
    QVERIFY(path.isEmpty());
    expectDownloadError(200, QStringLiteral("/break.bin"));
    QVERIFY(!QFile::exists(tmp(QStringLiteral("break.bin"))));
}

void TestDownload::matchingDigestReplacesWithoutFollowingLinks()
{
    // Someone placed a link under the installer's name in the temporary directory: it is replaced,
    // and the file it points at stays as it was. The query is part of the name.
    const QString victim = m_dir.filePath(QStringLiteral("victim"));
    QVERIFY(writeFile(victim, "mine"));
    const QString name = QStringLiteral("setup.bin?lang=cs&x=1");
    QVERIFY(QFile::link(victim, tmp(name)));

    const QByteArray body = "installer";
    m_server.setBody(QStringLiteral("/setup.bin"), body);
    const QByteArray sha = QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex();
    QCOMPARE(download(u'/' + name, body.size(), QString::fromLatin1(sha)), tmp(name));
    QVERIFY(!QFileInfo(tmp(name)).isSymLink());
    QCOMPARE(readAll(tmp(name)), body);
    QCOMPARE(readAll(victim), "mine");
}

void TestDownload::nameOfTheTemporaryDirectoryIsNotWritten()
{
    m_server.setBody(QStringLiteral("/files/"), "data");
    QVERIFY(download(QStringLiteral("/files/"), 4).isEmpty());
    const auto messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].text.startsWith(u"Soubor " + tmp({}) + u" nelze uložit: "),
             qPrintable(messages[0].text));
}

void TestDownload::programDirectory()
{
    const QDir dir(m_dir.filePath(QStringLiteral("probe")));
    QVERIFY(dir.mkpath(QStringLiteral(".")));
    const QString probe = dir.filePath(QStringLiteral("$dummy$.~~~"));
    // Leftovers of an interrupted probe, a directory or a file, neither block the next one.
    QVERIFY(dir.mkdir(QStringLiteral("$dummy$.~~~")));
    QVERIFY(canWriteAppDir(dir.path()));
    QVERIFY(writeFile(probe, {}));
    QVERIFY(canWriteAppDir(dir.path()));
    QVERIFY(!QFileInfo::exists(probe));

    // Below a plain file nothing can be made, whoever runs the test: the installer is not started
    // and the user learns where it lies.
    QVERIFY(writeFile(probe, {}));
    const QString blocked = probe + u"/app";
    const QString installer = m_dir.filePath(QStringLiteral("installer"));
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    QVERIFY(!runInstaller(installer, blocked, nullptr));
    const auto messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].caption, QStringLiteral("Tarnyx - Aktualizace"));
    QCOMPARE(messages[0].kind, MsgKind::Error);
    QCOMPARE(
        messages[0].text,
        QStringLiteral("Zápis do složky s aplikací byl odepřen.\r\rPro instalaci nové verze je "
                       "nezbytné zápis umožnit např. nastavením práv zápisu  \rdo složky %1 "
                       "\rnebo přihlášením uživatele s příslušnými právy. \rPo provedení "
                       "nápravy proveďte instalaci ručně spuštěním instalačního \rsouboru %2. ")
            .arg(blocked, installer));
}

QTEST_MAIN(TestDownload)
#include "tst_download.moc"

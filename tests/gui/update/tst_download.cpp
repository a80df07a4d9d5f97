#include "gui/update/DownloadWindow.h"
#include "gui/update/Installer.h"

#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/config/SettingsConstants.h"
#include "core/log/EventLog.h"
#include "core/update/VersionInfo.h"
#include "gui/common/MessageDlg.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestUpdate.h"

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
        for (const QString& folder : downloadFolders())
            QDir(tmp(folder)).removeRecursively();
    }
    void trickledPackageIsSavedPrivately();
    void packageGoesToThePrivilegedHelper();
    void failedTransferSavesNothing_data();
    void failedTransferSavesNothing();
    void breakStopsTheTransfer();
    void nameOfTheTemporaryDirectoryIsNotWritten();

private:
    QString tmp(const QString& name) const { return m_dir.filePath(u"tmp/" + name); }
    // The folders the downloads made in the temporary directory.
    QStringList downloadFolders() const
    {
        return QDir(tmp({})).entryList({QStringLiteral("tarnyx-update-*")}, QDir::Dirs);
    }
    // Downloads `path` of the server, answering the message boxes; `duringWindow` runs once the
    // progress window is up.
    QString download(const QString& path, qint32 size, const QString& sha256 = {},
                     std::function<void(DownloadWindow*)> duringWindow = {});
    void expectDownloadError(int status, const QString& path);

    QTemporaryDir m_dir;
    LoopbackHttpServer m_server;
    AppSettings m_settings;
    QByteArray m_package = makeTestPackage(QStringLiteral("tarnyx"), QStringLiteral("2.1.0.7"));
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

QString sha256(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

} // namespace

void TestDownload::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(!m_package.isEmpty());
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
    return downloadInstaller(
        {size, QStringLiteral("2.1.0.7"), m_server.url(path), {}, sha256, "[Tarnyx]", "signature"},
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

void TestDownload::trickledPackageIsSavedPrivately()
{
    m_server.setAnswer(QStringLiteral("/tarnyx_2.1.0.7_all.deb"), trickle(m_package, 4, 300, 50));
    int shown = -1;
    const QString path = download(
        QStringLiteral("/tarnyx_2.1.0.7_all.deb"), m_package.size(), sha256(m_package),
        [&](auto* w) {
            QVERIFY(!w->ui().breakButton->isEnabled()); // no data has come yet
            connect(w->ui().progress, &QProgressBar::valueChanged, w, [&](int v) { shown = v; });
            QTRY_VERIFY(w->ui().breakButton->isEnabled());
            // Closing the window does not interrupt: the transfer ends and counts.
            w->close();
        });
    QCOMPARE(shown, m_package.size());
    QCOMPARE(readAll(path), m_package);
    // In a new folder nobody else may enter, beside the descriptor and signature it came with,
    // and no program.
    const QFileInfo folder(QFileInfo(path).absolutePath());
    QCOMPARE(folder.absolutePath(), QDir(tmp({})).absolutePath());
    QCOMPARE(folder.permissions() & 0x0077, 0);
    QCOMPARE(readAll(descriptorBeside(path)), "[Tarnyx]");
    QCOMPARE(readAll(signatureBeside(path)), "signature");
    QVERIFY(!(QFile::permissions(path) & (QFileDevice::ExeOwner | QFileDevice::ReadOther)));
}

void TestDownload::packageGoesToThePrivilegedHelper()
{
    // A stand-in for pkexec records what it would run as root.
    const QString bin = m_dir.filePath(QStringLiteral("bin"));
    const QString record = m_dir.filePath(QStringLiteral("pkexec.txt"));
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(writeFile(bin + u"/pkexec",
                      "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + QFile::encodeName(record) + "'\n"));
    QVERIFY(
        QFile::setPermissions(bin + u"/pkexec", QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const QByteArray path = qgetenv("PATH");
    auto restorePath = qScopeGuard([path] { qputenv("PATH", path); });
    setUpdateHelperPath(QStringLiteral("/usr/libexec/tarnyx/tarnyx-install-update"));

    const QString package = m_dir.filePath(QStringLiteral("tarnyx_2.1.0.7_all.deb"));
    QVERIFY(writeFile(package, m_package));
    qputenv("PATH", QFile::encodeName(bin) + ":/usr/bin:/bin");
    QVERIFY(runInstaller(package, nullptr));
    QTRY_COMPARE(readAll(record), "/usr/libexec/tarnyx/tarnyx-install-update\n" +
                                      QFile::encodeName(m_dir.filePath("tarnyx.inf")) + "\n" +
                                      QFile::encodeName(m_dir.filePath("tarnyx.inf.sig")) + "\n" +
                                      QFile::encodeName(package) + '\n');
    QVERIFY(MessageDlgTestHook::lastMessages().isEmpty());

    // A file that is not a package is never started, whatever it is.
    QFile::remove(record);
    const QString script = m_dir.filePath(QStringLiteral("setup"));
    QVERIFY(writeFile(script, "#!/bin/sh\ntouch '" + QFile::encodeName(record) + "'\n"));
    QVERIFY(QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    QVERIFY(!runInstaller(script, nullptr));
    QCOMPARE(
        MessageDlgTestHook::lastMessages().value(0).text,
        QStringLiteral("Soubor %1 není instalační balíček, a proto nebude spuštěn.").arg(script));

    // Without pkexec nothing starts, and the administrator learns where the package lies.
    MessageDlgTestHook::clear();
    qputenv("PATH", QFile::encodeName(m_dir.filePath(QStringLiteral("tmp"))));
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    QVERIFY(!runInstaller(package, nullptr));
    const auto messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].caption, QStringLiteral("Tarnyx - Aktualizace"));
    QVERIFY(messages[0].text.contains(package));
    QVERIFY(!QFile::exists(record));
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
    QTest::newRow("no digest") << LoopbackHttpServer::answerBytes(m_package) << false << 0
                               << QString() << kDamaged;
    // The digest fits, but the package is another version than the offer names.
    const QByteArray other = makeTestPackage(QStringLiteral("tarnyx"), QStringLiteral("0.9"));
    QTest::newRow("another version")
        << LoopbackHttpServer::answerBytes(other) << false << 0 << sha256(other) << kDamaged;
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
    QCOMPARE(downloadFolders(), QStringList());
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
    QCOMPARE(downloadFolders(), QStringList());
}

void TestDownload::nameOfTheTemporaryDirectoryIsNotWritten()
{
    m_server.setBody(QStringLiteral("/files/"), "data");
    QVERIFY(download(QStringLiteral("/files/"), 4, sha256("data")).isEmpty());
    const auto messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].text.startsWith(u"Soubor " + tmp(QStringLiteral("tarnyx-update-"))),
             qPrintable(messages[0].text));
    QVERIFY2(messages[0].text.endsWith(u"/ nelze uložit: název souboru chybí"),
             qPrintable(messages[0].text));
    QCOMPARE(downloadFolders(), QStringList());
}

QTEST_MAIN(TestDownload)
#include "tst_download.moc"

// The crash reporter: what a report carries, the reports fatal errors leave for the next start
// (made by this test program run as a child that fails), saving a report, and the window an
// exception from an event handler brings up.
#include "app/CrashReport.h"
#include "app/CrashReportDialog.h"
#include "app/GuardedApplication.h"

#include "core/config/RegistryIni.h"
#include "core/platform/RegistryFile.h"
#include "core/update/VersionInfo.h"
#include "gui/common/MessageDlg.h"
#include "support/TestHive.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <pthread.h>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>

namespace {

constexpr char kRawMachineId[] = "4c1f0e2a9b8d7c6e5f4a3b2c1d0e9f8a";

// The test program run as a child: installs the handlers, then fails as `how` says.
int failingChild(const char* how, const char* reportDir, const char* machineIdPath)
{
    const rlimit noCoreDump{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCoreDump);
    installCrashHandlers(
        {QString::fromLocal8Bit(reportDir), QString::fromLocal8Bit(machineIdPath), QString()});
    if (std::strcmp(how, "segv") == 0)
        std::raise(SIGSEGV);
    std::thread worker([] {
        pthread_setname_np(pthread_self(), "printWorker");
        throw std::runtime_error("tiskárna zmizela");
    });
    worker.join();
    return 0;
}

} // namespace

class TestCrashReport : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void reportCarriesProductSettingsAndHashedMachine();
    void fatalErrorIsOfferedOnceAtNextStart_data();
    void fatalErrorIsOfferedOnceAtNextStart();
    void savingSaysWhetherItWorked();
    void exceptionInEventHandlerShowsReport_data();
    void exceptionInEventHandlerShowsReport();

private:
    QTemporaryDir m_root;
    CrashReportPaths m_paths;
};

void TestCrashReport::initTestCase()
{
    const QDir root(m_root.path());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath(QStringLiteral("config"))));
    qputenv("XDG_STATE_HOME", QFile::encodeName(root.filePath(QStringLiteral("state"))));
    qputenv("HOME", QFile::encodeName(root.filePath(QStringLiteral("home"))));
    productKeys().productKey = QStringLiteral("Tarnyx");
    m_paths = {root.filePath(QStringLiteral("crash")), root.filePath(QStringLiteral("machine-id")),
               platform::RegistryFile::defaultPath()};
    QFile id(m_paths.machineIdPath);
    QVERIFY(id.open(QIODevice::WriteOnly));
    id.write(QByteArray(kRawMachineId) + '\n');
    id.close();
    writeSettingsHive(m_paths.hivePath,
                      "\"Printer\"=\"Kancelář\"\r\n\"MaxPortrait\"=dword:00000050\r\n\r\n"
                      "[HKEY_CURRENT_USER\\Software\\Morvane\\TarnyxBeta]\r\n"
                      "\"Proxy\"=\"cizí produkt\"\r\n\r\n"
                      "[HKEY_CURRENT_USER\\Software\\Morvane\\Jiny]\r\n"
                      "\"Other\"=\"jiný produkt\"\r\n");
}

void TestCrashReport::reportCarriesProductSettingsAndHashedMachine()
{
    const QString report = composeCrashReport(QStringLiteral("sestava nejde přečíst"),
                                              QStringLiteral("uživatelské rozhraní"), m_paths);
    QVERIFY(report.contains(QStringLiteral("Tarnyx ") + programVersion()));
    QVERIFY(report.contains(QStringLiteral("sestava nejde přečíst")));
    QVERIFY(report.contains(QStringLiteral("\"Printer\"=\"Kancelář\"")));
    QVERIFY(report.contains(QStringLiteral("\"MaxPortrait\"=dword:00000050")));
    // Other products' keys stay out, also one whose name merely starts with the product's.
    QVERIFY(!report.contains(QStringLiteral("cizí produkt")));
    QVERIFY(!report.contains(QStringLiteral("jiný produkt")));

    const QString machine = machineIdentifier(m_paths.machineIdPath);
    QCOMPARE(machine.size(), 64);
    QVERIFY(report.contains(machine));
    QVERIFY(!report.contains(QLatin1String(kRawMachineId)));
    QCOMPARE(machineIdentifier(m_root.filePath(QStringLiteral("none"))), QStringLiteral("neznámý"));
}

void TestCrashReport::fatalErrorIsOfferedOnceAtNextStart_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("segmentation fault on the UI thread")
        << QStringLiteral("segv") << int(SIGSEGV)
        << QStringList{QStringLiteral("SIGSEGV"), QStringLiteral("uživatelské rozhraní")};
    QTest::newRow("exception escaping a thread")
        << QStringLiteral("throw") << int(SIGABRT)
        << QStringList{QStringLiteral("tiskárna zmizela"), QStringLiteral("printWorker")};
}

void TestCrashReport::fatalErrorIsOfferedOnceAtNextStart()
{
    QFETCH(QString, how);
    QFETCH(int, signal);
    QFETCH(QStringList, expected);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--failing-child"), how, m_paths.reportDir, m_paths.machineIdPath});
    QVERIFY(child.waitForFinished(60000));
    // The process still dies by the signal, as it would without the handler.
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(child.exitCode(), signal);

    const QString pending = takePendingCrashReport(m_paths);
    for (const QString& text : expected)
        QVERIFY2(pending.contains(text), qPrintable(pending));
    QVERIFY(pending.contains(QStringLiteral("Tarnyx ") + programVersion()));
    QVERIFY(pending.contains(machineIdentifier(m_paths.machineIdPath)));
    QVERIFY(!pending.contains(QLatin1String(kRawMachineId)));
    QVERIFY(pending.contains(QStringLiteral("\"Printer\"=\"Kancelář\"")));
    QVERIFY(takePendingCrashReport(m_paths).isEmpty());
}

void TestCrashReport::savingSaysWhetherItWorked()
{
    CrashReportDialog dialog(CrashReportDialog::Occasion::LastRun,
                             QStringLiteral("Zpráva o chybě\nřádek"));
    QString target = m_root.filePath(QStringLiteral("ulozeno.txt"));
    dialog.setSaveFileChooser([&target](QWidget*, const QString&) { return target; });
    MessageDlgTestHook::clear();
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    QVERIFY(dialog.saveReport());
    QFile saved(target);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), dialog.report().toUtf8());

    target = m_root.filePath(QStringLiteral("chybi/ulozeno.txt"));
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    QVERIFY(!dialog.saveReport());
    QCOMPARE(MessageDlgTestHook::lastMessages().constLast().kind, MsgKind::Error);
}

void TestCrashReport::exceptionInEventHandlerShowsReport_data()
{
    QTest::addColumn<bool>("standard");
    QTest::addColumn<QString>("expected");
    QTest::newRow("std::exception") << true << QStringLiteral("sestava nejde přečíst");
    QTest::newRow("anything else") << false << QStringLiteral("výjimka neznámého typu");
}

void TestCrashReport::exceptionInEventHandlerShowsReport()
{
    QFETCH(bool, standard);
    QFETCH(QString, expected);
    auto* app = qobject_cast<GuardedApplication*>(QCoreApplication::instance());
    QVERIFY(app);
    bool ended = false;
    app->setFailureAction([&ended] { ended = true; });
    QString shown;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&shown] {
        if (auto* dialog = qobject_cast<CrashReportDialog*>(QApplication::activeModalWidget())) {
            shown = dialog->ui().reportText->toPlainText();
            dialog->ui().closeButton->click();
        }
    });
    closer.start(10);
    QTimer::singleShot(0, this, [standard] {
        if (standard)
            throw std::runtime_error("sestava nejde přečíst");
        throw 42;
    });
    QTRY_VERIFY(ended);
    QVERIFY2(shown.contains(expected), qPrintable(shown));
    QVERIFY(app->failed());
}

int main(int argc, char* argv[])
{
    if (argc == 5 && std::strcmp(argv[1], "--failing-child") == 0)
        return failingChild(argv[2], argv[3], argv[4]);
    GuardedApplication app(argc, argv);
    TestCrashReport test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crashreport.moc"

#include "core/config/RegistryIni.h"
#include "core/platform/PrinterCatalog.h"
#include "gui/common/Events.h"
#include "gui/common/MessageDlg.h"
#include "gui/main/MainWindow.h"
#include "gui/print/UiJobHost.h"
#include "support/NoPrinters.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void runStateFollowsTheCommands();
    void statusAndTrayHint();
    void settingsPauseAndResume();
    void settingsCommandsWaitWhilePrinting();
    void workerAsksForPause();
    void statusFollowsAJobWithoutFloodingTheWindow();
    void closing();

private:
    QTemporaryDir m_home;
    NoPrinters m_printers;
};

void TestMainWindow::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    productKeys().productKey = QStringLiteral("Tarnyx");
    QApplication::setApplicationName(QStringLiteral("Tarnyx"));
}

void TestMainWindow::runStateFollowsTheCommands()
{
    JobController dm({}, m_printers);
    MainWindow form(dm, {});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.windowTitle(), QStringLiteral("Tarnyx - pozastaven"));
    QVERIFY(form.ui().pauseAction->isChecked());

    QTest::keyClick(&form, Qt::Key_Space); // resumes while paused
    QVERIFY(!dm.isPaused());
    QCOMPARE(form.windowTitle(), QStringLiteral("Tarnyx - spuštěn"));
    QVERIFY(form.ui().playAction->isChecked());
    QCOMPARE(form.idlePicture(), 1);

    QTest::keyClick(&form, Qt::Key_Z); // stop: paused, the running job abandoned
    QVERIFY(dm.isPaused());
    QVERIFY(dm.stopRequested());
    QCOMPARE(form.idlePicture(), 2);
    QTest::keyClick(&form, Qt::Key_Space); // and the next job is not abandoned
    QVERIFY(!dm.isPaused());
    QVERIFY(!dm.stopRequested());

    QTest::keyClick(&form, Qt::Key_Space);
    QVERIFY(dm.isPaused());
    QTest::keyClick(&form, Qt::Key_S);
    QVERIFY(!dm.isPaused());

    // The tray menu's items do the same, and show the run state with their check marks.
    auto trayItem = [&form](const char* name) {
        return form.ui().trayMenu->findChild<QAction*>(QLatin1String(name));
    };
    QVERIFY(trayItem("trayPlayItem")->isChecked());
    trayItem("trayStopItem")->trigger();
    QVERIFY(dm.isPaused() && dm.stopRequested());
    QVERIFY(trayItem("trayPauseItem")->isChecked());
    QCOMPARE(form.trayHint(), QStringLiteral("Tarnyx - pozastaven"));
    trayItem("trayPlayItem")->trigger();
    QVERIFY(!dm.isPaused() && !dm.stopRequested());
    QCOMPARE(form.trayHint(), QStringLiteral("Tarnyx - spuštěn"));
    QVERIFY(trayItem("trayPlayItem")->shortcut().isEmpty());
    QVERIFY(trayItem("trayRestoreItem")->font().bold());
}

void TestMainWindow::statusAndTrayHint()
{
    JobController dm({}, m_printers);
    MainWindow form(dm, {});
    form.refreshStatus();
    QCOMPARE(form.ui().statusPanels[0]->text(), QStringLiteral(" ... "));
    QCOMPARE(form.ui().statusPanels[1]->text(), QStringLiteral(" 0/0 "));
    QCOMPARE(form.ui().statusPanels[2]->text(), QStringLiteral("[žádná]"));
    QCOMPARE(form.trayHint(), form.windowTitle());

    dm.settings().printer = QStringLiteral("Mzdy");
    dm.setCurrentFile(QStringLiteral("LST00001.PRN"));
    dm.setReportTitle(QByteArray("V\xFDplatn\xED listina ") + QByteArray(130, 'x'));
    dm.setPageCount(3);
    dm.setPageNumber(2);
    dm.setProgress(50, 100);
    form.refreshStatus();
    QCOMPARE(form.ui().statusPanels[0]->text(), QStringLiteral("LST00001.PRN"));
    QCOMPARE(form.ui().statusPanels[1]->text(), QStringLiteral(" 2/3 "));
    QCOMPARE(form.ui().statusPanels[2]->text(), QStringLiteral("Mzdy"));
    QVERIFY(form.ui().statusText->text().startsWith(QStringLiteral("Výplatní listina")));
    QCOMPARE(form.ui().progressBar->value(), 50);
    // A long title: the tooltip is cut to its limit.
    QCOMPARE(form.trayHint().size(), MainWindow::kMaxTrayHint);
    QVERIFY(form.trayHint().startsWith(QStringLiteral("\"Výplatní listina")));

    dm.setCurrentFile(QStringLiteral("LST00002.PRN"));
    dm.setReportTitle("Kr\xE1tk\xFD");
    dm.setPageCount(1);
    dm.setPageNumber(1);
    form.refreshStatus();
    QCOMPARE(form.trayHint(), QStringLiteral("\"Krátký\"\r\nstrana 1 z 1\r\nMzdy"));
}

void TestMainWindow::settingsPauseAndResume()
{
    JobController dm({}, m_printers);
    int opened = 0;
    bool pausedWhileOpen = false;
    MainWindow::Dialogs dialogs;
    dialogs.settings = [&](QWidget*) {
        ++opened;
        pausedWhileOpen = dm.isPaused() && dm.isSetupOpen();
    };
    MainWindow form(dm, {}, dialogs);
    form.play();
    form.ui().settingsAction->trigger();
    QCOMPARE(opened, 1);
    QVERIFY(pausedWhileOpen);
    QVERIFY(!dm.isPaused()); // running before: running again
    QVERIFY(!dm.isSetupOpen());

    // Paused before and nobody asked to start meanwhile: stays paused.
    form.setRunState(true);
    form.openSettingsDialog();
    QVERIFY(dm.isPaused());

    // The start-up step came while the dialog was open: printing starts when it closes.
    dialogs.settings = [&](QWidget*) {
        dm.onStartup();
    };
    MainWindow form2(dm, {}, dialogs);
    dm.settings().runPaused = false;
    form2.openSettingsDialog();
    QVERIFY(!dm.isPaused());
    QVERIFY(!dm.isPlayDeferred());
}

void TestMainWindow::settingsCommandsWaitWhilePrinting()
{
    JobController dm({}, m_printers);
    MainWindow::Dialogs dialogs;
    dialogs.settings = [](QWidget*) {
    };
    MainWindow form(dm, {}, dialogs);
    QVERIFY(form.ui().settingsAction->isEnabled());
    // From the moment a job is started, before its worker has run a single step, until it ends.
    QSemaphore gate;
    dm.setWorkerFactory([&gate](const QString&) -> std::unique_ptr<QThread> {
        return std::unique_ptr<QThread>(QThread::create([&gate] { gate.acquire(); }));
    });
    dm.startJob(QStringLiteral("/nowhere/LST00001.PRN"));
    QVERIFY(dm.isPrinting());
    QVERIFY(!form.ui().settingsAction->isEnabled());
    QVERIFY(!form.ui().spoolDirsAction->isEnabled());
    gate.release();
    QTRY_VERIFY(!dm.worker());
    QVERIFY(form.ui().settingsAction->isEnabled());
    QVERIFY(form.ui().spoolDirsAction->isEnabled());
    // Windows that do not exist yet keep their commands out of sight.
    QVERIFY(!form.ui().browserAction->isVisible());
    QVERIFY(!form.ui().aboutAction->isVisible());
    QVERIFY(!form.ui().updateCheckAction->isVisible());
    QCOMPARE(form.ui().webAction->text(), QStringLiteral("&Webová stránka Tarnyx"));

    // A version check that started an installer ends the program, also from the tray.
    dialogs.updateCheck = [](QWidget*) {
        return true;
    };
    MainWindow updating(dm, {}, dialogs);
    QVERIFY(updating.ui().updateCheckAction->isVisible());
    updating.ui().updateCheckAction->trigger();
    QVERIFY(updating.exitRequested());
}

void TestMainWindow::statusFollowsAJobWithoutFloodingTheWindow()
{
    // A job refreshes after every line, from its own thread, without waiting; the window shows
    // a few of the states and always the last.
    JobController dm({}, m_printers);
    UiJobHost host(dm);
    QStringList shown;
    host.setStatusView([&] { shown << dm.currentFile(); });
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QThread> job(QThread::create([&] {
        for (int line = 0; line < 20000; ++line) {
            dm.setCurrentFile(QStringLiteral("LST%1.PRN").arg(line));
            host.refreshStatus();
        }
        dm.setCurrentFile(QStringLiteral("done"));
        host.refreshStatus();
    }));
    job->start();
    QVERIFY(job->wait(60000));
    QTRY_COMPARE(shown.isEmpty() ? QString() : shown.last(), QStringLiteral("done"));
    QVERIFY2(shown.size() <= clock.elapsed() / UiJobHost::kRefreshIntervalMs + 2,
             qPrintable(QString::number(shown.size())));
}

void TestMainWindow::workerAsksForPause()
{
    JobController dm({}, m_printers);
    MainWindow form(dm, {});
    form.play();
    QCoreApplication::postEvent(&form, new events::PrintStateEvent(false));
    QTRY_VERIFY(dm.isPaused());
    QCOMPARE(form.windowTitle(), QStringLiteral("Tarnyx - pozastaven"));
    QCoreApplication::postEvent(&form, new events::PrintStateEvent(true));
    QTRY_VERIFY(!dm.isPaused());

    // The tick's error display goes through the message box helper.
    MessageDlgTestHook::clear();
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    form.showWorkerError(QStringLiteral("Chyba tisku"));
    QCOMPARE(MessageDlgTestHook::lastMessages().last().caption, QStringLiteral("Chyba"));

    form.startTrayAnimation();
    QVERIFY(form.animating());
    form.showIdleIcon(true);
    QVERIFY(!form.animating());
}

void TestMainWindow::closing()
{
    JobController dm({}, m_printers);
    dm.settings().iconize = true;
    {
        MainWindow form(dm, {});
        form.show();
        // With Iconize on, the close box only hides the window (here, with no tray, it is
        // minimised instead: it is never hidden without a way back).
        QVERIFY(!form.close());
        QVERIFY(!dm.stopRequested());
        // "Konec" always ends.
        form.ui().exitAction->trigger();
        QVERIFY(dm.stopRequested());
        QVERIFY(dm.isPaused());
    }
    dm.settings().iconize = false;
    dm.requestStop(false);
    MainWindow form(dm, {});
    form.show();
    QVERIFY(form.close());
    QVERIFY(dm.stopRequested());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

#include "common/NoPrinters.h"
#include "config/MvRegIni.h"
#include "core/Events.h"
#include "core/MessageDlg.h"
#include "core/UnitMain.h"
#include "print/PrinterCatalog.h"
#include "print/UiJobHost.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

class TestFormMain : public QObject
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

void TestFormMain::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    productKeys().productKey = QStringLiteral("Tarnyx");
    QApplication::setApplicationName(QStringLiteral("Tarnyx"));
}

void TestFormMain::runStateFollowsTheCommands()
{
    TDataModule1 dm({}, m_printers);
    TFormMain form(dm, {});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.windowTitle(), QStringLiteral("Tarnyx - pozastaven"));
    QVERIFY(form.ActionPause->isChecked());

    QTest::keyClick(&form, Qt::Key_Space); // resumes while paused
    QVERIFY(!dm.Paused);
    QCOMPARE(form.windowTitle(), QStringLiteral("Tarnyx - spuštěn"));
    QVERIFY(form.ActionPlay->isChecked());
    QCOMPARE(form.idlePicture(), 1);

    QTest::keyClick(&form, Qt::Key_Z); // stop: paused, the running job abandoned
    QVERIFY(dm.Paused);
    QVERIFY(dm.StopRequest);
    QCOMPARE(form.idlePicture(), 2);
    QTest::keyClick(&form, Qt::Key_Space); // and the next job is not abandoned
    QVERIFY(!dm.Paused);
    QVERIFY(!dm.StopRequest);

    QTest::keyClick(&form, Qt::Key_Space);
    QVERIFY(dm.Paused);
    QTest::keyClick(&form, Qt::Key_S);
    QVERIFY(!dm.Paused);

    // The tray menu's items do the same, and show the run state with their check marks.
    auto trayItem = [&form](const char* name) {
        return form.PopupMenu1->findChild<QAction*>(QLatin1String(name));
    };
    QVERIFY(trayItem("MnuPopPlay")->isChecked());
    trayItem("MnuPopStop")->trigger();
    QVERIFY(dm.Paused && dm.StopRequest);
    QVERIFY(trayItem("MnuPopPause")->isChecked());
    QCOMPARE(form.trayHint(), QStringLiteral("Tarnyx - pozastaven"));
    trayItem("MnuPopPlay")->trigger();
    QVERIFY(!dm.Paused && !dm.StopRequest);
    QCOMPARE(form.trayHint(), QStringLiteral("Tarnyx - spuštěn"));
    QVERIFY(trayItem("MnuPopPlay")->shortcut().isEmpty());
    QVERIFY(trayItem("MnuPopRestore")->font().bold());
}

void TestFormMain::statusAndTrayHint()
{
    TDataModule1 dm({}, m_printers);
    TFormMain form(dm, {});
    form.RefreshStatus();
    QCOMPARE(form.StatusPanels[0]->text(), QStringLiteral(" ... "));
    QCOMPARE(form.StatusPanels[1]->text(), QStringLiteral(" 0/0 "));
    QCOMPARE(form.StatusPanels[2]->text(), QStringLiteral("[žádná]"));
    QCOMPARE(form.trayHint(), form.windowTitle());

    dm.Settings.printer = QStringLiteral("Mzdy");
    dm.SetCurrentFile(QStringLiteral("LST00001.PRN"));
    dm.SetReportTitle(QByteArray("V\xFDplatn\xED listina ") + QByteArray(130, 'x'));
    dm.SetPageCount(3);
    dm.SetPageNumber(2);
    dm.SetProgress(50, 100);
    form.RefreshStatus();
    QCOMPARE(form.StatusPanels[0]->text(), QStringLiteral("LST00001.PRN"));
    QCOMPARE(form.StatusPanels[1]->text(), QStringLiteral(" 2/3 "));
    QCOMPARE(form.StatusPanels[2]->text(), QStringLiteral("Mzdy"));
    QVERIFY(form.StaticText->text().startsWith(QStringLiteral("Výplatní listina")));
    QCOMPARE(form.ProgressBar->value(), 50);
    // A long title: the tooltip is cut to its limit.
    QCOMPARE(form.trayHint().size(), TFormMain::MaxTrayHint);
    QVERIFY(form.trayHint().startsWith(QStringLiteral("\"Výplatní listina")));

    dm.SetCurrentFile(QStringLiteral("LST00002.PRN"));
    dm.SetReportTitle("Kr\xE1tk\xFD");
    dm.SetPageCount(1);
    dm.SetPageNumber(1);
    form.RefreshStatus();
    QCOMPARE(form.trayHint(), QStringLiteral("\"Krátký\"\r\nstrana 1 z 1\r\nMzdy"));
}

void TestFormMain::settingsPauseAndResume()
{
    TDataModule1 dm({}, m_printers);
    int opened = 0;
    bool pausedWhileOpen = false;
    TFormMain::Dialogs dialogs;
    dialogs.settings = [&](QWidget*) {
        ++opened;
        pausedWhileOpen = dm.Paused && dm.SetupOpen;
    };
    TFormMain form(dm, {}, dialogs);
    form.ActionPlayExecute();
    form.ActionSetup1->trigger();
    QCOMPARE(opened, 1);
    QVERIFY(pausedWhileOpen);
    QVERIFY(!dm.Paused); // running before: running again
    QVERIFY(!dm.SetupOpen);

    // Paused before and nobody asked to start meanwhile: stays paused.
    form.SetRunState(true);
    form.OpenSettingsDialog();
    QVERIFY(dm.Paused);

    // The start-up step came while the dialog was open: printing starts when it closes.
    dialogs.settings = [&](QWidget*) {
        dm.StartupTick();
    };
    TFormMain form2(dm, {}, dialogs);
    dm.Settings.runPaused = false;
    form2.OpenSettingsDialog();
    QVERIFY(!dm.Paused);
    QVERIFY(!dm.PlayDeferred);
}

void TestFormMain::settingsCommandsWaitWhilePrinting()
{
    TDataModule1 dm({}, m_printers);
    TFormMain::Dialogs dialogs;
    dialogs.settings = [](QWidget*) {
    };
    TFormMain form(dm, {}, dialogs);
    QVERIFY(form.ActionSetup1->isEnabled());
    // From the moment a job is started, before its worker has run a single step, until it ends.
    QSemaphore gate;
    dm.setWorkerFactory([&gate](const QString&) -> std::unique_ptr<QThread> {
        return std::unique_ptr<QThread>(QThread::create([&gate] { gate.acquire(); }));
    });
    dm.StartJob(QStringLiteral("/nowhere/LST00001.PRN"));
    QVERIFY(dm.Printing);
    QVERIFY(!form.ActionSetup1->isEnabled());
    QVERIFY(!form.ActionSetup2->isEnabled());
    gate.release();
    QTRY_VERIFY(!dm.Worker());
    QVERIFY(form.ActionSetup1->isEnabled());
    QVERIFY(form.ActionSetup2->isEnabled());
    // Windows that do not exist yet keep their commands out of sight.
    QVERIFY(!form.ActionLstBrowser->isVisible());
    QVERIFY(!form.ActionAbout->isVisible());
    QVERIFY(!form.ActionWebUpdate->isVisible());
    QCOMPARE(form.ActionWebTarnyx->text(), QStringLiteral("&Webová stránka Tarnyx"));
}

void TestFormMain::statusFollowsAJobWithoutFloodingTheWindow()
{
    // A job refreshes after every line, from its own thread, without waiting; the window shows
    // a few of the states and always the last.
    TDataModule1 dm({}, m_printers);
    UiJobHost host(dm);
    QStringList shown;
    host.refreshStatusView = [&] {
        shown << dm.CurrentFile();
    };
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QThread> job(QThread::create([&] {
        for (int line = 0; line < 20000; ++line) {
            dm.SetCurrentFile(QStringLiteral("LST%1.PRN").arg(line));
            host.refreshStatus();
        }
        dm.SetCurrentFile(QStringLiteral("done"));
        host.refreshStatus();
    }));
    job->start();
    QVERIFY(job->wait(60000));
    QTRY_COMPARE(shown.isEmpty() ? QString() : shown.last(), QStringLiteral("done"));
    QVERIFY2(shown.size() <= clock.elapsed() / UiJobHost::RefreshIntervalMs + 2,
             qPrintable(QString::number(shown.size())));
}

void TestFormMain::workerAsksForPause()
{
    TDataModule1 dm({}, m_printers);
    TFormMain form(dm, {});
    form.ActionPlayExecute();
    QCoreApplication::postEvent(&form, new events::PrintStateEvent(false));
    QTRY_VERIFY(dm.Paused);
    QCOMPARE(form.windowTitle(), QStringLiteral("Tarnyx - pozastaven"));
    QCoreApplication::postEvent(&form, new events::PrintStateEvent(true));
    QTRY_VERIFY(!dm.Paused);

    // The tick's error display goes through the message box helper.
    MessageDlgTestHook::clear();
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    form.ShowWorkerError(QStringLiteral("Chyba tisku"));
    QCOMPARE(MessageDlgTestHook::lastMessages().last().caption, QStringLiteral("Chyba"));

    form.StartTrayAnimation();
    QVERIFY(form.animating());
    form.ShowIdleIcon(true);
    QVERIFY(!form.animating());
}

void TestFormMain::closing()
{
    TDataModule1 dm({}, m_printers);
    dm.Settings.iconize = true;
    {
        TFormMain form(dm, {});
        form.show();
        // With Iconize on, the close box only hides the window (here, with no tray, it is
        // minimised instead: it is never hidden without a way back).
        QVERIFY(!form.close());
        QVERIFY(!dm.StopRequest);
        // "Konec" always ends.
        form.ActionExit->trigger();
        QVERIFY(dm.StopRequest);
        QVERIFY(dm.Paused);
    }
    dm.Settings.iconize = false;
    dm.StopRequest = false;
    TFormMain form(dm, {});
    form.show();
    QVERIFY(form.close());
    QVERIFY(dm.StopRequest);
}

QTEST_MAIN(TestFormMain)
#include "tst_formmain.moc"

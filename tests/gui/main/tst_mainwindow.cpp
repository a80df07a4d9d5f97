#include "core/config/RegistryIni.h"
#include "core/log/EventLog.h"
#include "core/platform/PrinterCatalog.h"
#include "gui/about/AboutBox.h"
#include "gui/common/Events.h"
#include "gui/common/FormLook.h"
#include "gui/common/MessageDlg.h"
#include "gui/main/MainWindow.h"
#include "gui/print/UiJobHost.h"
#include "support/NoPrinters.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QToolTip>
#include <QVBoxLayout>

// The desktop's notification service, on a private session bus: it keeps what it was asked to
// show and can tell the program which button the user took.
class NotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown
    {
        QString summary;
        QString body;
        QStringList actions;
    };
    QList<Shown> shown;

    bool start(const QString& address)
    {
        m_bus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("notificationService")));
        return m_bus->isConnected() &&
               m_bus->registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                     QDBusConnection::ExportAllSlots) &&
               m_bus->registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    // The user clicks the button `key` of the notification `id`.
    void invoke(uint id, const QString& key)
    {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
        signal << id << key;
        m_bus->send(signal);
    }

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int)
    {
        shown << Shown{summary, body, actions};
        return uint(shown.size());
    }

private:
    std::unique_ptr<QDBusConnection> m_bus;
};

// Stands in for the toolkit's window of the icon in an embedded tray, which gets the tooltip
// events.
class QSystemTrayIconSys : public QWidget
{
    Q_OBJECT
};

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
    void reportsThatDidNotPrintAreToldAndOffered();
    void closing();
    void trayThatGoesAndComesBack();
    void escapeHidesWhateverWasOpenedBefore();
    void trayTooltipWhilePrinting();
    void cleanupTestCase();

private:
    QProcess m_bus;
    NotificationService m_notifications;
    QTemporaryDir m_home;
    NoPrinters m_printers;
};

void TestMainWindow::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    productKeys().productKey = QStringLiteral("Tarnyx");
    QApplication::setApplicationName(QStringLiteral("Tarnyx"));
    // A session bus of the test's own, with a notification service on it.
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--session"), QStringLiteral("--nofork"),
                 QStringLiteral("--print-address")});
    if (m_bus.waitForReadyRead(10000)) {
        const QByteArray address = m_bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QVERIFY(m_notifications.start(QString::fromUtf8(address)));
    }
}

void TestMainWindow::cleanupTestCase()
{
    m_bus.kill();
    m_bus.waitForFinished();
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

void TestMainWindow::trayThatGoesAndComesBack()
{
    bool tray = true;
    MainWindow::setTrayAvailableForTests([&tray] { return tray; });
    const auto desktopTray = qScopeGuard([] { MainWindow::setTrayAvailableForTests({}); });
    JobController dm({}, m_printers);
    dm.settings().iconize = true;
    MainWindow form(dm, {});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.ui().trayIcon->isVisible());
    QVERIFY(!form.close());
    QVERIFY(form.isHidden());

    // The panel with the tray ends (the icon itself still counts as shown): neither the close
    // box, Esc nor minimising may leave the window without a way back.
    form.restoreFromTray();
    tray = false;
    QVERIFY(!form.close());
    QVERIFY(!form.isHidden());
    QVERIFY(form.isMinimized());
    form.restoreFromTray();
    QTest::keyClick(form.windowHandle(), Qt::Key_Escape);
    QVERIFY(!form.isHidden());
    form.showMinimized();
    QCoreApplication::processEvents();
    QVERIFY(!form.isHidden());

    // Hidden in the tray when the tray goes: the window comes back, minimised.
    tray = true;
    form.checkTrayHost();
    form.hideToTray();
    QVERIFY(form.isHidden());
    tray = false;
    form.checkTrayHost();
    QVERIFY(!form.isHidden());
    QVERIFY(form.isMinimized());

    // The tray comes back: the icon is shown in it again and the window is hidden there again.
    tray = true;
    form.checkTrayHost();
    QVERIFY(form.ui().trayIcon->isVisible());
    form.restoreFromTray();
    QVERIFY(!form.close());
    QVERIFY(form.isHidden());

    // Started without a tray, the icon appears when the tray does, unless the settings keep the
    // program out of the tray.
    tray = false;
    MainWindow later(dm, {QStringLiteral("/min")});
    later.showInitially();
    QVERIFY(!later.isHidden());
    QVERIFY(!later.ui().trayIcon->isVisible());
    tray = true;
    later.checkTrayHost();
    QVERIFY(later.ui().trayIcon->isVisible());
    dm.settings().iconize = false;
    tray = false;
    MainWindow notInTray(dm, {});
    tray = true;
    notInTray.checkTrayHost();
    QVERIFY(!notInTray.ui().trayIcon->isVisible());
}

void TestMainWindow::escapeHidesWhateverWasOpenedBefore()
{
    MainWindow::setTrayAvailableForTests([] { return true; });
    const auto desktopTray = qScopeGuard([] { MainWindow::setTrayAvailableForTests({}); });
    JobController dm({}, m_printers);
    dm.settings().iconize = true;
    MainWindow::Dialogs dialogs;
    dialogs.about = [](QWidget* owner) {
        showAboutBox(owner);
    };
    // A settings dialog with a field to type in, closed with OK.
    dialogs.settings = [](QWidget* owner) {
        QDialog dialog(owner);
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(new QLineEdit(&dialog));
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        layout->addWidget(buttons);
        dialog.exec();
    };
    MainWindow form(dm, {}, dialogs);
    auto escapeHides = [&form] {
        form.restoreFromTray();
        if (!QTest::qWaitForWindowActive(&form))
            return false;
        QTest::keyClick(form.windowHandle(), Qt::Key_Escape);
        return form.isHidden();
    };
    QVERIFY(escapeHides());
    // Each dialog opened from the menus by keyboard and closed with Enter; the keyboard focus
    // stays in the menu bar afterwards.
    const struct
    {
        Qt::Key menu;
        Qt::Key item;
    } opened[] = {{Qt::Key_V, Qt::Key_O}, {Qt::Key_N, Qt::Key_M}};
    for (const auto& path : opened) {
        form.restoreFromTray();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        bool closed = false;
        QTimer::singleShot(50, [&closed] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                QTest::keyClick(dialog->windowHandle(), Qt::Key_Return);
                closed = true;
            }
        });
        QTest::keyClick(form.windowHandle(), path.menu, Qt::AltModifier);
        QVERIFY(QApplication::activePopupWidget());
        QTest::keyClick(QApplication::activePopupWidget()->windowHandle(), path.item);
        QVERIFY(closed);
        QVERIFY(escapeHides());
        QVERIFY(escapeHides());
    }
}

void TestMainWindow::trayTooltipWhilePrinting()
{
    // Each new tooltip or picture may take down the tooltip shown over the icon: while a page
    // prints, the status is refreshed many times over without anything in the tray changing.
    JobController dm({}, m_printers);
    dm.settings().printer = QStringLiteral("Mzdy");
    MainWindow form(dm, {});
    dm.setCurrentFile(QStringLiteral("LST00001.PRN"));
    dm.setReportTitle("Mzdy");
    dm.setPageCount(3);
    dm.setPageNumber(1);
    form.refreshStatus();
    const int shown = form.trayUpdates();
    for (int line = 0; line < 50; ++line) {
        dm.setProgress(line, 100);
        form.refreshStatus();
    }
    QCOMPARE(form.trayUpdates(), shown);
    dm.setPageNumber(2);
    form.refreshStatus();
    QCOMPARE(form.trayUpdates(), shown + 1);

    // Over the icon the tooltip stays, with hints off or shown only briefly, and follows the page.
    setShowHints(false);
    setHintHidePause(50);
    QSystemTrayIconSys icon;
    icon.show();
    QVERIFY(QTest::qWaitForWindowExposed(&icon));
    QHelpEvent help(QEvent::ToolTip, QPoint(1, 1), icon.mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(&icon, &help);
    QTest::qWait(300);
    QVERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), QStringLiteral("\"Mzdy\"\nstrana 2 z 3\nMzdy"));
    dm.setPageNumber(3);
    form.refreshStatus();
    QCOMPARE(QToolTip::text(), QStringLiteral("\"Mzdy\"\nstrana 3 z 3\nMzdy"));
    QToolTip::hideText();
    setShowHints(true);
    setHintHidePause(5000);

    form.showIdleIcon(true);
    const int idle = form.trayUpdates();
    form.showIdleIcon(true);
    form.setRunState(true);
    QCOMPARE(form.trayUpdates(), idle);
}

void TestMainWindow::reportsThatDidNotPrintAreToldAndOffered()
{
    if (m_bus.state() != QProcess::Running)
        QSKIP("no dbus-daemon for a private session bus");
    JobController dm({}, m_printers);
    dm.settings().printer = QStringLiteral("Mzdy");
    MainWindow form(dm, {});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const int idleHeight = form.height();

    appLog().setActive(true);
    appLog().clearEntries();
    // The printer stops: the status bar, the status text and the tooltip say so; the log and the
    // desktop once.
    PrinterStatus stopped;
    stopped.state = PrinterStatus::State::Stopped;
    stopped.message = QStringLiteral("printer is switched off");
    form.showPrinterStatus(QStringLiteral("Mzdy"), stopped);
    form.showPrinterStatus(QStringLiteral("Mzdy"), stopped);
    form.showWaitingReports(QStringLiteral("Mzdy"), 3);
    const QString told = QStringLiteral("Tiskárna Mzdy je zastavena (printer is switched off).");
    QCOMPARE(form.ui().statusPanels[2]->text(), QStringLiteral("Mzdy – zastavena"));
    QCOMPARE(form.ui().statusText->text(),
             told + QStringLiteral("\nNa tiskárně Mzdy čekají 3 sestavy."));
    QVERIFY(form.trayHint().contains(told));
    QTRY_COMPARE(m_notifications.shown.size(), 1);
    QCOMPARE(m_notifications.shown.first().body, told);
    QCOMPARE(appLog().records().size(), 1);
    QCOMPARE(appLog().records().last().description, told);

    // A job that did not print: logged, told with the offer, and shown in the window.
    const SubmittedJob job{7, QStringLiteral("Mzdy"), QStringLiteral("LST00001.PRN"),
                           QStringLiteral("Výplatní listina"),
                           m_home.filePath(QStringLiteral("BAKPRN/20240131-081530-LST00001.PRN"))};
    form.showJobEnded(job, JobStatus{JobStatus::State::Completed, {}, {}}); // printed: nothing
    form.showJobEnded(job, JobStatus{JobStatus::State::Aborted, {}, QStringLiteral("no paper")});
    const QString text = QStringLiteral("Sestava LST00001.PRN „Výplatní listina“ nebyla na "
                                        "tiskárně Mzdy vytištěna: tiskový server úlohu přerušil "
                                        "(no paper).");
    QVERIFY(!form.ui().unprintedPanel->isHidden());
    QCOMPARE(form.ui().unprintedText->text(), text);
    QVERIFY(form.height() > idleHeight);
    QTRY_COMPARE(m_notifications.shown.size(), 2);
    QCOMPARE(m_notifications.shown.last().body, text);
    QCOMPARE(appLog().records().last().description, text);
    QVERIFY(m_notifications.shown.last().actions.contains(QStringLiteral("Vytisknout znovu")));

    // The button in the notification puts the archived report into the re-print queue.
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    m_notifications.invoke(2, QStringLiteral("tarnyx-action"));
    QTRY_COMPARE(dm.reprintQueue().size(), 1);
    QCOMPARE(dm.reprintQueue().first().path, job.archived);
    QVERIFY(form.ui().unprintedPanel->isHidden());

    // A deleted report cannot be offered again; the window's button would do what the
    // notification's does.
    SubmittedJob deleted = job;
    deleted.archived.clear();
    form.showJobEnded(deleted, JobStatus{JobStatus::State::Canceled, {}, {}});
    QVERIFY(!form.ui().reprintButton->isEnabled());
    QTRY_COMPARE(m_notifications.shown.size(), 3);
    QVERIFY(!m_notifications.shown.last().actions.contains(QStringLiteral("Vytisknout znovu")));
    form.ui().dismissButton->click();
    QVERIFY(form.ui().unprintedPanel->isHidden());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

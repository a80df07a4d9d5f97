#include "core/MainWindow.h"

#include "config/FormLook.h"
#include "config/RegistryIni.h"
#include "config/SettingsConstants.h"
#include "core/EventLog.h"
#include "core/Events.h"
#include "core/MessageDlg.h"
#include "platform/CommandLine.h"
#include "report/CodePages.h"
#include "resources/Pictures.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QMenuBar>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// An action with its caption, shortcut, picture and hint; the hint's text before "|" is the
// tooltip, the whole of it the status tip.
QAction* makeAction(QObject* parent, const QString& name, const QString& caption,
                    const QKeySequence& shortcut, int picture, const QString& hint)
{
    auto* a = new QAction(caption, parent);
    a->setObjectName(name);
    if (!shortcut.isEmpty())
        a->setShortcut(shortcut);
    if (picture >= 0)
        a->setIcon(pictures::toolIcon(pictures::Tool(picture)));
    if (!hint.isEmpty()) {
        a->setToolTip(hint.section(u'|', 0, 0));
        a->setStatusTip(hint.section(u'|', -1));
    }
    return a;
}

QString stateWord(bool paused)
{
    return paused ? QStringLiteral("pozastaven") : QStringLiteral("spuštěn");
}

} // namespace

MainWindow::MainWindow(JobController& controller, const QStringList& args, Dialogs dialogs)
    : m_controller(controller), m_args(args), m_dialogs(std::move(dialogs))
{
    setObjectName(QStringLiteral("FormMain"));
    setWindowFlags(Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    applyFormLook(this, m_controller.settings);
    m_trayPictures = pictures::trayPictures();
    m_trayFrames = pictures::trayAnimation();
    setWindowIcon(pictures::applicationIcon());
    createActions();
    createWidgets();
    createTray();
    applyTrayOptions();

    resize(373, sizeHint().height());
    setMinimumWidth(300);
    setFixedHeight(height());
    setRunState(true);
    refreshStatus();
    setShowHints(m_controller.settings.showHints);

    m_animation.setInterval(100);
    connect(&m_animation, &QTimer::timeout, this, &MainWindow::nextAnimationFrame);
    m_controller.setView(this);
}

MainWindow::~MainWindow()
{
    m_controller.setView(nullptr);
    appLog().addEntry(QStringLiteral("MainFormDestroy"), QString());
}

void MainWindow::createActions()
{
    exitAction =
        makeAction(this, QStringLiteral("ActionExit"), QStringLiteral("&Konec"),
                   QKeySequence(Qt::ALT | Qt::Key_F4), 5, QStringLiteral("Ukončení aplikace"));
    aboutAction = makeAction(this, QStringLiteral("ActionAbout"), QStringLiteral("&O aplikaci ..."),
                             {}, 9, {});
    playAction = makeAction(this, QStringLiteral("ActionPlay"), QStringLiteral("&Spustit"),
                            QKeySequence(Qt::Key_S), 0,
                            QStringLiteral("Spuštění tisku|Posílá sestavy na tiskárnu"));
    pauseAction = makeAction(
        this, QStringLiteral("ActionPause"), QStringLiteral("&Pozastavit"),
        QKeySequence(Qt::Key_Space), 1,
        QStringLiteral("Pozastavení tisku|Po dokončení probíhajícího tisku se další tisk již "
                       "nespustí"));
    stopAction = makeAction(
        this, QStringLiteral("ActionStop"), QStringLiteral("&Zastavit"), QKeySequence(Qt::Key_Z), 2,
        QStringLiteral("Zastavení tisku|Zruší probíhající tisk a pozastaví tisk dalších sestav"));
    const QString setupHint =
        QStringLiteral("Nastavení programu|Umožňuje nakonfigurovat jednotlivé možnosti");
    settingsAction =
        makeAction(this, QStringLiteral("ActionSetup1"), QStringLiteral("&Možnosti ..."),
                   QKeySequence(Qt::Key_F8), 3, setupHint);
    // F8 belongs to the first of the two settings commands.
    spoolDirsAction = makeAction(this, QStringLiteral("ActionSetup2"),
                                 QStringLiteral("&Možnosti ..."), {}, 3, setupHint);
    updateCheckAction = makeAction(
        this, QStringLiteral("ActionWebUpdate"), QStringLiteral("&Kontrola aktualizace"), {}, 8,
        QStringLiteral("Zjištění verze programu na Internetu|Zjistí poslední verzi na Inernetu a "
                       "nabídne její stažení"));
    browserAction = makeAction(this, QStringLiteral("ActionLstBrowser"),
                               QStringLiteral("Prohlížeč ses&tav..."), QKeySequence(Qt::Key_F3), 6,
                               QStringLiteral("Prohlížení a tisk uložených sestav"));
    webAction =
        makeAction(this, QStringLiteral("ActionWebTarnyx"),
                   QStringLiteral("&Webová stránka %1").arg(productKeys().productKey), {}, -1, {});
    helpAction =
        makeAction(this, QStringLiteral("actHelp"), QStringLiteral("&Nápověda"),
                   QKeySequence(Qt::Key_F1), 4, QStringLiteral("Zobrazení nápovědy k aplikaci"));

    auto* group = new QActionGroup(this);
    playAction->setCheckable(true);
    pauseAction->setCheckable(true);
    group->addAction(playAction);
    group->addAction(pauseAction);
    pauseAction->setChecked(true);

    connect(exitAction, &QAction::triggered, this, [this] {
        exitRequested = true;
        close();
    });
    connect(playAction, &QAction::triggered, this, &MainWindow::play);
    connect(pauseAction, &QAction::triggered, this, &MainWindow::togglePause);
    connect(stopAction, &QAction::triggered, this, [this] {
        m_controller.setStopRequest(true);
        setRunState(true);
    });
    connect(settingsAction, &QAction::triggered, this, [this] {
        openSettingsDialog();
        refreshStatus();
        applyTrayOptions();
    });
    connect(spoolDirsAction, &QAction::triggered, this, [this] {
        openSettingsDialog();
        if (m_controller.settings.iconize && trayUsable()) {
            hideToTray();
        } else {
            restoreFromTray();
        }
    });
    connect(webAction, &QAction::triggered, this,
            [] { QDesktopServices::openUrl(QUrl(settingsConstants().urlTarnyx)); });
    connect(helpAction, &QAction::triggered, this, [this] {
        if (m_dialogs.help)
            m_dialogs.help(QStringLiteral("charakter.htm"));
    });

    // Windows that come later keep their commands out of sight until then.
    aboutAction->setVisible(false);
    updateCheckAction->setVisible(false);
    browserAction->setVisible(false);
    aboutAction->setEnabled(false);
    updateCheckAction->setEnabled(false);
    browserAction->setEnabled(false);
    helpAction->setEnabled(bool(m_dialogs.help));

    printingChanged(m_controller.printing);

    for (QAction* a : {exitAction, playAction, pauseAction, stopAction, settingsAction,
                       browserAction, helpAction})
        addAction(a);
}

void MainWindow::createWidgets()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&Soubor"));
    file->setObjectName(QStringLiteral("MenuFile"));
    file->addAction(exitAction);
    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Nástroje"));
    tools->setObjectName(QStringLiteral("MenuTools"));
    tools->addActions({playAction, pauseAction, stopAction});
    tools->addSeparator();
    tools->addActions({browserAction, settingsAction});
    QMenu* help = menuBar()->addMenu(QStringLiteral("Nápo&věda"));
    help->setObjectName(QStringLiteral("MenuHelp"));
    help->addActions({helpAction, aboutAction});
    help->addSeparator();
    help->addActions({updateCheckAction, webAction});

    QToolBar* bar = addToolBar(QStringLiteral("ToolBar3"));
    bar->setObjectName(QStringLiteral("ToolBar3"));
    bar->setMovable(false);
    bar->setIconSize(QSize(21, 21));
    bar->addActions({playAction, pauseAction, stopAction});
    bar->addSeparator();
    bar->addActions({browserAction, settingsAction, helpAction});

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(8, 8, 8, 8);
    statusText = new QLabel(central);
    statusText->setObjectName(QStringLiteral("StaticText"));
    statusText->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusText->setMinimumHeight(53);
    statusText->setWordWrap(true);
    statusText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    statusText->setToolTip(QStringLiteral("Název tištěné sestavy"));
    progressBar = new QProgressBar(central);
    progressBar->setObjectName(QStringLiteral("ProgressBar"));
    progressBar->setRange(1, 100);
    progressBar->setFixedHeight(22);
    progressBar->setTextVisible(false);
    progressBar->setToolTip(QStringLiteral("Průběh tisku sestavy"));
    layout->addWidget(statusText, 1);
    layout->addWidget(progressBar);
    setCentralWidget(central);

    const int widths[3] = {80, 50, 50};
    for (int i = 0; i < 3; ++i) {
        statusPanels[i] = new QLabel(this);
        statusPanels[i]->setMinimumWidth(widths[i]);
        statusPanels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        if (i == 1)
            statusPanels[i]->setAlignment(Qt::AlignCenter);
        statusPanels[i]->setToolTip(
            QStringLiteral("Jméno souboru, tištěná strana/celkem stran, použitá tiskárna"));
        statusBar()->addPermanentWidget(statusPanels[i], i == 2 ? 1 : 0);
    }
    statusBar()->setSizeGripEnabled(false);
}

void MainWindow::createTray()
{
    trayMenu = new QMenu(this);
    trayMenu->setObjectName(QStringLiteral("PopupMenu1"));
    QAction* restore = trayMenu->addAction(QStringLiteral("O&bnovit"));
    restore->setObjectName(QStringLiteral("MnuPopRestore"));
    QFont bold = restore->font();
    bold.setBold(true);
    restore->setFont(bold);
    connect(restore, &QAction::triggered, this, &MainWindow::restoreFromTray);
    trayMenu->setDefaultAction(restore);
    trayMenu->addSeparator();

    // Items of their own that do what the window's commands do, without their shortcuts.
    auto item = [this](const QString& name, const QString& caption, QAction* like) {
        QAction* a = trayMenu->addAction(like->icon(), caption);
        a->setObjectName(name);
        a->setStatusTip(like->statusTip());
        a->setToolTip(like->toolTip());
        a->setCheckable(like->isCheckable());
        a->setVisible(like->isVisible());
        connect(a, &QAction::triggered, like, &QAction::trigger);
        connect(like, &QAction::changed, a, [a, like] {
            a->setEnabled(like->isEnabled());
            a->setChecked(like->isChecked());
        });
        a->setEnabled(like->isEnabled());
        a->setChecked(like->isChecked());
        return a;
    };
    item(QStringLiteral("MnuPopPlay"), playAction->text(), playAction);
    item(QStringLiteral("MnuPopPause"), pauseAction->text(), pauseAction);
    item(QStringLiteral("MnuPopStop"), QStringLiteral("&Zastavit"), stopAction);
    trayMenu->addSeparator();
    item(QStringLiteral("MnuPopSetup"), QStringLiteral("&Možnosti ..."), spoolDirsAction);
    item(QStringLiteral("MnuPopHelp"), QStringLiteral("&Nápověda"), helpAction);
    item(QStringLiteral("MnuPopAbout"), aboutAction->text(), aboutAction);
    trayMenu->addSeparator();
    item(QStringLiteral("MnuPopExit"), QStringLiteral("&Konec"), exitAction);

    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setObjectName(QStringLiteral("CoolTrayIcon1"));
    trayIcon->setContextMenu(trayMenu);
    if (!m_trayPictures.isEmpty())
        trayIcon->setIcon(QIcon(m_trayPictures.first()));
    connect(trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    restoreFromTray();
            });
}

bool MainWindow::trayUsable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void MainWindow::showInitially()
{
    const bool hidden = m_controller.settings.iconize && trayUsable() &&
                        platform::findCmdLineSwitch(m_args, QStringLiteral("min"));
    if (hidden)
        hideToTray();
    else
        show();
}

void MainWindow::setRunState(bool paused)
{
    m_paused = paused;
    m_controller.setPaused(paused);
    if (!paused)
        m_controller.stopRequest = false;
    setWindowTitle(
        QStringLiteral("%1 - %2").arg(QApplication::applicationName(), stateWord(paused)));
    updateTrayHint();
    if (m_controller.currentFile().isEmpty())
        showIdleIcon(paused);
    (paused ? pauseAction : playAction)->setChecked(true);
}

void MainWindow::togglePause()
{
    setRunState(!m_paused);
}

void MainWindow::play()
{
    setRunState(false);
    m_controller.setStopRequest(false);
}

void MainWindow::refreshStatus()
{
    const QString file = m_controller.currentFile();
    statusPanels[0]->setText(file.isEmpty() ? QStringLiteral(" ... ") : file);
    statusPanels[1]->setText(
        QStringLiteral(" %1/%2 ").arg(m_controller.pageNumber()).arg(m_controller.pageCount()));
    const QString printer = m_controller.settings.printer;
    statusPanels[2]->setText(printer.isEmpty() ? QStringLiteral("[žádná]") : printer);
    // Between jobs the text tells what the user should know about the spool directories.
    statusText->setText(file.isEmpty() ? m_notice : cp1250ToUnicode(m_controller.reportTitle()));
    const int progress = m_controller.progress();
    if (progress < progressBar->minimum())
        progressBar->reset();
    else
        progressBar->setValue(progress);
    updateTrayHint();
}

void MainWindow::updateTrayHint()
{
    QString hint;
    if (m_controller.currentFile().isEmpty()) {
        hint = windowTitle();
    } else {
        hint = QStringLiteral("\"%1\"\r\nstrana %2 z %3\r\n%4")
                   .arg(cp1250ToUnicode(m_controller.reportTitle()))
                   .arg(m_controller.pageNumber())
                   .arg(m_controller.pageCount())
                   .arg(m_controller.settings.printer);
    }
    m_trayHint = hint.left(kMaxTrayHint);
    QString shown = m_trayHint;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    trayIcon->setToolTip(shown);
}

void MainWindow::showIdleIcon(bool paused)
{
    m_animation.stop();
    m_idlePicture = paused ? 2 : 1;
    if (m_idlePicture < m_trayPictures.size())
        trayIcon->setIcon(QIcon(m_trayPictures.at(m_idlePicture)));
}

void MainWindow::startTrayAnimation()
{
    m_frame = 0;
    nextAnimationFrame();
    m_animation.start();
}

void MainWindow::nextAnimationFrame()
{
    if (m_trayFrames.isEmpty())
        return;
    trayIcon->setIcon(QIcon(m_trayFrames.at(m_frame % m_trayFrames.size())));
    ++m_frame;
}

void MainWindow::applyTrayOptions()
{
    // Where the desktop has no tray the icon could not bring the window back: it stays away.
    trayIcon->setVisible(m_controller.settings.iconize && trayUsable());
}

void MainWindow::hideToTray()
{
    if (!trayIcon->isVisible()) {
        showMinimized(); // never hidden without a way back
        return;
    }
    hide();
}

void MainWindow::restoreFromTray()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void MainWindow::openSettingsDialog()
{
    const bool wasRunning = !m_paused;
    setRunState(true);
    m_controller.setupOpen = true;
    m_controller.playDeferred = false;
    if (m_dialogs.settings)
        m_dialogs.settings(this);
    m_controller.setupOpen = false;
    setShowHints(m_controller.settings.showHints);
    if (wasRunning || m_controller.playDeferred)
        play();
    m_controller.playDeferred = false;
}

void MainWindow::printingChanged(bool printing)
{
    // The settings commands are offered only while nothing prints.
    const bool offered = !printing && bool(m_dialogs.settings);
    settingsAction->setEnabled(offered);
    spoolDirsAction->setEnabled(offered);
}

void MainWindow::showNotice(const QString& text)
{
    m_notice = text;
    refreshStatus();
}

void MainWindow::checkTrayHost()
{
    // When the desktop's tray comes back (a restarted panel), the icon is shown anew.
    const bool available = trayUsable();
    if (available && !m_trayHostSeen && m_controller.settings.iconize) {
        trayIcon->hide();
        trayIcon->show();
    }
    m_trayHostSeen = available;
}

void MainWindow::showWorkerError(const QString& text)
{
    messageDlg(text, MsgKind::Error, {MsgButton::Ok}, QStringLiteral("Chyba"));
}

bool MainWindow::event(QEvent* e)
{
    if (e->type() == events::kPrintState) {
        setRunState(!static_cast<events::PrintStateEvent*>(e)->run);
        return true;
    }
    return QMainWindow::event(e);
}

void MainWindow::closeEvent(QCloseEvent* e)
{
    appLog().addEntry(QStringLiteral("FormCloseQuery"), QString());
    if (!exitRequested && m_controller.settings.iconize) {
        e->ignore();
        hideToTray();
        return;
    }
    // Before the event loop ends: the running job is told to stop, and what it asks of this
    // thread from now on is answered without being done.
    m_controller.beginShutdown();
    trayIcon->hide();
    appLog().addEntry(QStringLiteral("MainFormClose"), QString());
    if (m_dialogs.closeHelp)
        m_dialogs.closeHelp();
    e->accept();
    QApplication::quit();
}

void MainWindow::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape && trayIcon->isVisible()) {
        hideToTray();
        return;
    }
    QMainWindow::keyPressEvent(e);
}

void MainWindow::changeEvent(QEvent* e)
{
    // Minimising hides the window in the tray while the icon is there.
    if (e->type() == QEvent::WindowStateChange && isMinimized() && trayIcon->isVisible())
        QTimer::singleShot(0, this, &MainWindow::hide);
    QMainWindow::changeEvent(e);
}

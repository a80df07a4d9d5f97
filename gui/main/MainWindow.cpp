#include "gui/main/MainWindow.h"

#include "core/config/RegistryIni.h"
#include "core/config/SettingsConstants.h"
#include "core/log/EventLog.h"
#include "core/platform/CommandLine.h"
#include "core/report/CodePages.h"
#include "core/report/ReportHeader.h"
#include "gui/common/Events.h"
#include "gui/common/FormLook.h"
#include "gui/common/MessageDlg.h"
#include "gui/common/Pictures.h"
#include "gui/common/ReportActions.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolTip>
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

std::function<bool()>& trayAvailableHook()
{
    static std::function<bool()> hook;
    return hook;
}

// The tray's tooltip stays while the pointer rests on the icon; it goes when the pointer leaves.
constexpr int kTrayTipMs = 24 * 60 * 60 * 1000;

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
    applyFormLook(this, m_controller.settings());
    m_trayPictures = pictures::trayPictures();
    m_trayFrames = pictures::trayAnimation();
    setWindowIcon(pictures::applicationIcon());
    createActions();
    createWidgets();
    createTray();
    m_trayHostSeen = trayUsable();
    applyTrayOptions();
    m_notifier.setTrayIcon(m_ui.trayIcon);
    // After the hints' filter, so that this one sees the tray's tooltip events first.
    qApp->installEventFilter(this);
    m_notifier.setBalloonClicked([this] { restoreFromTray(); });

    resize(373, sizeHint().height());
    setMinimumWidth(300);
    fitHeight();
    setRunState(true);
    refreshStatus();
    setShowHints(m_controller.settings().showHints);

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
    m_ui.exitAction =
        makeAction(this, QStringLiteral("exitAction"), QStringLiteral("&Konec"),
                   QKeySequence(Qt::ALT | Qt::Key_F4), 5, QStringLiteral("Ukončení aplikace"));
    m_ui.aboutAction = makeAction(this, QStringLiteral("aboutAction"),
                                  QStringLiteral("&O aplikaci ..."), {}, 9, {});
    m_ui.playAction = makeAction(this, QStringLiteral("playAction"), QStringLiteral("&Spustit"),
                                 QKeySequence(Qt::Key_S), 0,
                                 QStringLiteral("Spuštění tisku|Posílá sestavy na tiskárnu"));
    m_ui.pauseAction = makeAction(
        this, QStringLiteral("pauseAction"), QStringLiteral("&Pozastavit"),
        QKeySequence(Qt::Key_Space), 1,
        QStringLiteral("Pozastavení tisku|Po dokončení probíhajícího tisku se další tisk již "
                       "nespustí"));
    m_ui.stopAction = makeAction(
        this, QStringLiteral("stopAction"), QStringLiteral("&Zastavit"), QKeySequence(Qt::Key_Z), 2,
        QStringLiteral("Zastavení tisku|Zruší probíhající tisk a pozastaví tisk dalších sestav"));
    const QString setupHint =
        QStringLiteral("Nastavení programu|Umožňuje nakonfigurovat jednotlivé možnosti");
    m_ui.settingsAction =
        makeAction(this, QStringLiteral("settingsAction"), QStringLiteral("&Možnosti ..."),
                   QKeySequence(Qt::Key_F8), 3, setupHint);
    // F8 belongs to the first of the two settings commands.
    m_ui.spoolDirsAction = makeAction(this, QStringLiteral("spoolDirsAction"),
                                      QStringLiteral("&Možnosti ..."), {}, 3, setupHint);
    m_ui.updateCheckAction = makeAction(
        this, QStringLiteral("updateCheckAction"), QStringLiteral("&Kontrola aktualizace"), {}, 8,
        QStringLiteral("Zjištění verze programu na Internetu|Zjistí poslední verzi na Inernetu a "
                       "nabídne její stažení"));
    m_ui.browserAction = makeAction(
        this, QStringLiteral("browserAction"), QStringLiteral("Prohlížeč ses&tav..."),
        QKeySequence(Qt::Key_F3), 6, QStringLiteral("Prohlížení a tisk uložených sestav"));
    m_ui.webAction =
        makeAction(this, QStringLiteral("webAction"),
                   QStringLiteral("&Webová stránka %1").arg(productKeys().productKey), {}, -1, {});
    m_ui.helpAction =
        makeAction(this, QStringLiteral("actHelp"), QStringLiteral("&Nápověda"),
                   QKeySequence(Qt::Key_F1), 4, QStringLiteral("Zobrazení nápovědy k aplikaci"));

    auto* group = new QActionGroup(this);
    m_ui.playAction->setCheckable(true);
    m_ui.pauseAction->setCheckable(true);
    group->addAction(m_ui.playAction);
    group->addAction(m_ui.pauseAction);
    m_ui.pauseAction->setChecked(true);

    connect(m_ui.exitAction, &QAction::triggered, this, [this] {
        m_exitRequested = true;
        close();
    });
    connect(m_ui.playAction, &QAction::triggered, this, &MainWindow::play);
    connect(m_ui.pauseAction, &QAction::triggered, this, &MainWindow::togglePause);
    connect(m_ui.stopAction, &QAction::triggered, this, [this] {
        m_controller.setStopRequest(true);
        setRunState(true);
    });
    connect(m_ui.settingsAction, &QAction::triggered, this, [this] {
        openSettingsDialog();
        refreshStatus();
        applyTrayOptions();
    });
    connect(m_ui.spoolDirsAction, &QAction::triggered, this, [this] {
        openSettingsDialog();
        applyTrayOptions();
        if (m_controller.settings().iconize && trayUsable()) {
            hideToTray();
        } else {
            restoreFromTray();
        }
    });
    connect(m_ui.webAction, &QAction::triggered, this,
            [] { QDesktopServices::openUrl(QUrl(settingsConstants().urlTarnyx)); });
    connect(m_ui.browserAction, &QAction::triggered, this, [this] {
        if (m_dialogs.browser && !m_controller.settings().directories.isEmpty())
            m_dialogs.browser(this);
    });
    connect(m_ui.helpAction, &QAction::triggered, this, [this] {
        if (m_dialogs.help)
            m_dialogs.help(QStringLiteral("charakter.htm"));
    });

    connect(m_ui.aboutAction, &QAction::triggered, this, [this] {
        if (m_dialogs.about)
            m_dialogs.about(this);
    });
    connect(m_ui.updateCheckAction, &QAction::triggered, this, [this] {
        // An installer that was started replaces the program's files: the program ends.
        if (m_dialogs.updateCheck && m_dialogs.updateCheck(this))
            m_ui.exitAction->trigger();
    });

    // Windows the program is put together without keep their commands out of sight.
    m_ui.aboutAction->setVisible(bool(m_dialogs.about));
    m_ui.updateCheckAction->setVisible(bool(m_dialogs.updateCheck));
    m_ui.browserAction->setVisible(bool(m_dialogs.browser));
    updateBrowserAction();
    m_ui.helpAction->setEnabled(bool(m_dialogs.help));

    printingChanged(m_controller.isPrinting());

    // Esc puts the window away in the tray. As a shortcut of the whole window it also works when
    // the keyboard focus has stayed in the menu bar after the menus were used from the keyboard
    // (the menu bar would take the key for itself); while a menu is open, Esc closes the menu.
    auto* escape = new QAction(this);
    escape->setObjectName(QStringLiteral("escapeAction"));
    escape->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(escape, &QAction::triggered, this, [this] {
        if (trayShown())
            hideToTray();
    });

    for (QAction* a : {m_ui.exitAction, m_ui.playAction, m_ui.pauseAction, m_ui.stopAction,
                       m_ui.settingsAction, m_ui.browserAction, m_ui.helpAction, escape})
        addAction(a);
}

void MainWindow::createWidgets()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&Soubor"));
    file->setObjectName(QStringLiteral("fileMenu"));
    file->addAction(m_ui.exitAction);
    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Nástroje"));
    tools->setObjectName(QStringLiteral("toolsMenu"));
    tools->addActions({m_ui.playAction, m_ui.pauseAction, m_ui.stopAction});
    tools->addSeparator();
    tools->addActions({m_ui.browserAction, m_ui.settingsAction});
    QMenu* help = menuBar()->addMenu(QStringLiteral("Nápo&věda"));
    help->setObjectName(QStringLiteral("helpMenu"));
    help->addActions({m_ui.helpAction, m_ui.aboutAction});
    help->addSeparator();
    help->addActions({m_ui.updateCheckAction, m_ui.webAction});

    QToolBar* bar = addToolBar(QStringLiteral("ToolBar3"));
    bar->setObjectName(QStringLiteral("toolBar"));
    bar->setMovable(false);
    bar->setIconSize(QSize(21, 21));
    bar->addActions({m_ui.playAction, m_ui.pauseAction, m_ui.stopAction});
    bar->addSeparator();
    bar->addActions({m_ui.browserAction, m_ui.settingsAction, m_ui.helpAction});

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(8, 8, 8, 8);
    m_ui.statusText = new QLabel(central);
    m_ui.statusText->setObjectName(QStringLiteral("statusText"));
    m_ui.statusText->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_ui.statusText->setMinimumHeight(53);
    m_ui.statusText->setWordWrap(true);
    m_ui.statusText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_ui.statusText->setToolTip(QStringLiteral("Název tištěné sestavy"));
    m_ui.progressBar = new QProgressBar(central);
    m_ui.progressBar->setObjectName(QStringLiteral("progressBar"));
    m_ui.progressBar->setRange(1, 100);
    m_ui.progressBar->setFixedHeight(22);
    m_ui.progressBar->setTextVisible(false);
    m_ui.progressBar->setToolTip(QStringLiteral("Průběh tisku sestavy"));
    layout->addWidget(m_ui.statusText, 1);
    layout->addWidget(m_ui.progressBar);
    createUnprintedPanel(central);
    layout->addWidget(m_ui.unprintedPanel);
    setCentralWidget(central);

    const int widths[3] = {80, 50, 50};
    for (int i = 0; i < 3; ++i) {
        m_ui.statusPanels[i] = new QLabel(this);
        m_ui.statusPanels[i]->setMinimumWidth(widths[i]);
        m_ui.statusPanels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        if (i == 1)
            m_ui.statusPanels[i]->setAlignment(Qt::AlignCenter);
        m_ui.statusPanels[i]->setToolTip(
            QStringLiteral("Jméno souboru, tištěná strana/celkem stran, použitá tiskárna"));
        statusBar()->addPermanentWidget(m_ui.statusPanels[i], i == 2 ? 1 : 0);
    }
    statusBar()->setSizeGripEnabled(false);
}

void MainWindow::createUnprintedPanel(QWidget* parent)
{
    m_ui.unprintedPanel = new QFrame(parent);
    m_ui.unprintedPanel->setObjectName(QStringLiteral("unprintedPanel"));
    m_ui.unprintedPanel->setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
    auto* layout = new QVBoxLayout(m_ui.unprintedPanel);
    m_ui.unprintedText = new QLabel(m_ui.unprintedPanel);
    m_ui.unprintedText->setObjectName(QStringLiteral("unprintedText"));
    m_ui.unprintedText->setWordWrap(true);
    m_ui.unprintedText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QHBoxLayout;
    m_ui.reprintButton = new QPushButton(QStringLiteral("&Vytisknout znovu"), m_ui.unprintedPanel);
    m_ui.reprintButton->setObjectName(QStringLiteral("reprintButton"));
    m_ui.reprintButton->setToolTip(
        QStringLiteral("Zařadí archivovanou sestavu do tiskové fronty k novému tisku"));
    m_ui.dismissButton = new QPushButton(QStringLiteral("S&krýt"), m_ui.unprintedPanel);
    m_ui.dismissButton->setObjectName(QStringLiteral("dismissButton"));
    buttons->addStretch(1);
    buttons->addWidget(m_ui.reprintButton);
    buttons->addWidget(m_ui.dismissButton);
    layout->addWidget(m_ui.unprintedText);
    layout->addLayout(buttons);
    connect(m_ui.reprintButton, &QPushButton::clicked, this, &MainWindow::reprintUnprinted);
    connect(m_ui.dismissButton, &QPushButton::clicked, this, &MainWindow::dismissUnprinted);
    m_ui.unprintedPanel->hide();
}

void MainWindow::createTray()
{
    m_ui.trayMenu = new QMenu(this);
    m_ui.trayMenu->setObjectName(QStringLiteral("trayMenu"));
    QAction* restore = m_ui.trayMenu->addAction(QStringLiteral("O&bnovit"));
    restore->setObjectName(QStringLiteral("trayRestoreItem"));
    QFont bold = restore->font();
    bold.setBold(true);
    restore->setFont(bold);
    connect(restore, &QAction::triggered, this, &MainWindow::restoreFromTray);
    m_ui.trayMenu->setDefaultAction(restore);
    m_ui.trayMenu->addSeparator();

    // Items of their own that do what the window's commands do, without their shortcuts.
    auto item = [this](const QString& name, const QString& caption, QAction* like) {
        QAction* a = m_ui.trayMenu->addAction(like->icon(), caption);
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
    item(QStringLiteral("trayPlayItem"), m_ui.playAction->text(), m_ui.playAction);
    item(QStringLiteral("trayPauseItem"), m_ui.pauseAction->text(), m_ui.pauseAction);
    item(QStringLiteral("trayStopItem"), QStringLiteral("&Zastavit"), m_ui.stopAction);
    m_ui.trayMenu->addSeparator();
    item(QStringLiteral("traySettingsItem"), QStringLiteral("&Možnosti ..."), m_ui.spoolDirsAction);
    item(QStringLiteral("trayHelpItem"), QStringLiteral("&Nápověda"), m_ui.helpAction);
    item(QStringLiteral("trayAboutItem"), m_ui.aboutAction->text(), m_ui.aboutAction);
    m_ui.trayMenu->addSeparator();
    item(QStringLiteral("trayExitItem"), QStringLiteral("&Konec"), m_ui.exitAction);

    m_ui.trayIcon = new QSystemTrayIcon(this);
    m_ui.trayIcon->setObjectName(QStringLiteral("trayIcon"));
    m_ui.trayIcon->setContextMenu(m_ui.trayMenu);
    if (!m_trayPictures.isEmpty())
        setTrayPicture(m_trayPictures.first());
    connect(m_ui.trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    restoreFromTray();
            });
}

void MainWindow::setTrayAvailableForTests(std::function<bool()> available)
{
    trayAvailableHook() = std::move(available);
}

bool MainWindow::trayUsable() const
{
    const std::function<bool()>& hook = trayAvailableHook();
    return hook ? hook() : QSystemTrayIcon::isSystemTrayAvailable();
}

bool MainWindow::trayShown() const
{
    // The icon's own flag stays set when the desktop's tray goes away (a panel that ended or
    // restarts): whether the icon can bring the window back is asked of the desktop each time.
    return m_ui.trayIcon->isVisible() && trayUsable();
}

void MainWindow::showInitially()
{
    const bool hidden = m_controller.settings().iconize && trayUsable() &&
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
        m_controller.requestStop(false);
    setWindowTitle(
        QStringLiteral("%1 - %2").arg(QApplication::applicationName(), stateWord(paused)));
    updateTrayHint();
    if (m_controller.currentFile().isEmpty())
        showIdleIcon(paused);
    (paused ? m_ui.pauseAction : m_ui.playAction)->setChecked(true);
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
    m_ui.statusPanels[0]->setText(file.isEmpty() ? QStringLiteral(" ... ") : file);
    m_ui.statusPanels[1]->setText(
        QStringLiteral(" %1/%2 ").arg(m_controller.pageNumber()).arg(m_controller.pageCount()));
    const QString printer = m_controller.settings().printer;
    const bool watched = isWatched(printer);
    const QString word = watched ? m_printerWord : QString();
    m_ui.statusPanels[2]->setText(printer.isEmpty() ? QStringLiteral("[žádná]")
                                  : word.isEmpty()  ? printer
                                                   : QStringLiteral("%1 – %2").arg(printer, word));
    m_ui.statusPanels[2]->setToolTip(
        watched && !m_printerProblems.isEmpty()
            ? m_printerProblems.join(u'\n')
            : QStringLiteral("Jméno souboru, tištěná strana/celkem stran, použitá tiskárna"));
    // Between jobs the text tells what the user should know about the spool directories and the
    // printer.
    QStringList lines;
    if (!m_notice.isEmpty())
        lines << m_notice;
    lines << printerLines();
    m_ui.statusText->setText(file.isEmpty() ? lines.join(u'\n')
                                            : cp1250ToUnicode(m_controller.reportTitle()));
    if (printer != m_shownPrinter) {
        m_shownPrinter = printer;
        emit printerShown(printer);
    }
    const int progress = m_controller.progress();
    if (progress < m_ui.progressBar->minimum())
        m_ui.progressBar->reset();
    else
        m_ui.progressBar->setValue(progress);
    updateTrayHint();
}

void MainWindow::updateTrayHint()
{
    QString hint;
    if (m_controller.currentFile().isEmpty()) {
        hint = (QStringList{windowTitle()} + printerLines()).join(QStringLiteral("\r\n"));
    } else {
        hint = QStringLiteral("\"%1\"\r\nstrana %2 z %3\r\n%4")
                   .arg(cp1250ToUnicode(m_controller.reportTitle()))
                   .arg(m_controller.pageNumber())
                   .arg(m_controller.pageCount())
                   .arg(m_controller.settings().printer);
    }
    m_trayHint = hint.left(kMaxTrayHint);
    QString shown = m_trayHint;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // The status is refreshed many times a second while a job prints. Each tooltip set is passed
    // on to the desktop's tray, which may take down the one it shows and show it anew later: it is
    // set only when its text changes, while printing once a page.
    const QString before = m_ui.trayIcon->toolTip();
    if (shown == before)
        return;
    m_ui.trayIcon->setToolTip(shown);
    ++m_trayUpdates;
    // A tooltip shown over the icon follows the new text (the next page).
    if (m_trayTipOwner && QToolTip::isVisible() && QToolTip::text() == before)
        QToolTip::showText(QCursor::pos(), shown, m_trayTipOwner, QRect(), kTrayTipMs);
}

void MainWindow::setTrayPicture(const QPixmap& picture)
{
    if (picture.cacheKey() == m_trayPictureKey)
        return;
    m_trayPictureKey = picture.cacheKey();
    m_ui.trayIcon->setIcon(QIcon(picture));
    ++m_trayUpdates;
}

void MainWindow::showIdleIcon(bool paused)
{
    m_animation.stop();
    m_idlePicture = paused ? 2 : 1;
    if (m_idlePicture < m_trayPictures.size())
        setTrayPicture(m_trayPictures.at(m_idlePicture));
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
    setTrayPicture(m_trayFrames.at(m_frame % m_trayFrames.size()));
    ++m_frame;
}

void MainWindow::applyTrayOptions()
{
    // Where the desktop has no tray the icon could not bring the window back: it stays away.
    m_ui.trayIcon->setVisible(m_controller.settings().iconize && trayUsable());
}

void MainWindow::hideToTray()
{
    if (!trayShown()) {
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
    m_controller.setSetupOpen(true);
    m_controller.setPlayDeferred(false);
    if (m_dialogs.settings)
        m_dialogs.settings(this);
    m_controller.setSetupOpen(false);
    setShowHints(m_controller.settings().showHints);
    updateBrowserAction();
    if (wasRunning || m_controller.isPlayDeferred())
        play();
    m_controller.setPlayDeferred(false);
}

void MainWindow::updateBrowserAction()
{
    // Without spool directories there is no archive to browse.
    m_ui.browserAction->setEnabled(bool(m_dialogs.browser) &&
                                   !m_controller.settings().directories.isEmpty());
}

void MainWindow::printingChanged(bool printing)
{
    // The settings commands are offered only while nothing prints.
    const bool offered = !printing && bool(m_dialogs.settings);
    m_ui.settingsAction->setEnabled(offered);
    m_ui.spoolDirsAction->setEnabled(offered);
}

void MainWindow::showNotice(const QString& text)
{
    m_notice = text;
    refreshStatus();
    fitHeight();
}

bool MainWindow::isWatched(const QString& queue) const
{
    return queue.compare(m_watchedQueue, Qt::CaseInsensitive) == 0;
}

QStringList MainWindow::printerLines() const
{
    if (!isWatched(m_controller.settings().printer))
        return {};
    QStringList lines = m_printerProblems;
    if (!m_waitingText.isEmpty())
        lines << m_waitingText;
    return lines;
}

void MainWindow::showPrinterStatus(const QString& queue, const PrinterStatus& status)
{
    const QStringList problems = printerProblems(queue, status);
    const bool sameQueue = isWatched(queue);
    if (sameQueue && m_printerKnown && problems == m_printerProblems)
        return;
    const bool hadProblems = sameQueue && !m_printerProblems.isEmpty();
    m_watchedQueue = queue;
    m_printerKnown = true;
    m_printerProblems = problems;
    m_printerWord = printerProblemWord(status);
    if (!problems.isEmpty()) {
        appLog().addEntry(QStringLiteral("Tiskárna"), problems.join(u' '));
        m_notifier.notify(QStringLiteral("Tiskárna %1").arg(queue), problems.join(u'\n'));
    } else if (hadProblems) {
        appLog().addEntry(QStringLiteral("Tiskárna"),
                          QStringLiteral("Tiskárna %1 je opět připravena.").arg(queue));
    }
    refreshStatus();
    fitHeight();
}

void MainWindow::showWaitingReports(const QString& queue, int count)
{
    m_waitingText = waitingReportsText(queue, count);
    refreshStatus();
    fitHeight();
}

void MainWindow::showJobEnded(const SubmittedJob& job, const JobStatus& status)
{
    if (!jobFailed(status))
        return;
    const QString text = jobFailureText(job, jobFailureReason(status));
    appLog().addEntry(QStringLiteral("Sestava nevytištěna"), text);
    m_unprinted << Unprinted{job, text};
    showUnprinted();
    const bool archived = !job.archived.isEmpty();
    m_notifier.notify(
        QStringLiteral("Sestava nevytištěna"),
        archived ? text
                 : text + QStringLiteral(" Sestava byla smazána, znovu ji vytisknout "
                                         "nelze."),
        archived ? QStringLiteral("Vytisknout znovu") : QString(), [this, id = job.jobId] {
            // Brought to the front of the list, then printed again from there.
            const auto it = std::find_if(m_unprinted.begin(), m_unprinted.end(),
                                         [id](const Unprinted& u) { return u.job.jobId == id; });
            if (it == m_unprinted.end())
                return;
            m_unprinted.move(it - m_unprinted.begin(), 0);
            reprintUnprinted();
        });
}

void MainWindow::showUnprinted()
{
    if (m_unprinted.isEmpty()) {
        m_ui.unprintedPanel->hide();
    } else {
        const Unprinted& first = m_unprinted.first();
        QString text = first.text;
        if (first.job.archived.isEmpty())
            text += QStringLiteral("\nSestava byla smazána, znovu ji vytisknout nelze.");
        if (m_unprinted.size() > 1)
            text += QStringLiteral("\n(Nevytištěných sestav: %1)").arg(m_unprinted.size());
        m_ui.unprintedText->setText(text);
        m_ui.reprintButton->setEnabled(!first.job.archived.isEmpty());
        m_ui.unprintedPanel->show();
    }
    fitHeight();
}

void MainWindow::reprintUnprinted()
{
    if (m_unprinted.isEmpty())
        return;
    const Unprinted first = m_unprinted.takeFirst();
    showUnprinted();
    if (first.job.archived.isEmpty())
        return;
    ReportHeader report;
    report.fileName = first.job.archived;
    requeueReport(&report, m_controller);
}

void MainWindow::dismissUnprinted()
{
    if (m_unprinted.isEmpty())
        return;
    m_unprinted.removeFirst();
    showUnprinted();
}

void MainWindow::fitHeight()
{
    setMinimumHeight(0);
    setMaximumHeight(QWIDGETSIZE_MAX);
    setFixedHeight(sizeHint().height());
}

void MainWindow::checkTrayHost()
{
    const bool available = trayUsable();
    if (available == m_trayHostSeen)
        return;
    m_trayHostSeen = available;
    if (available) {
        // The desktop's tray is there again (a restarted panel): the icon is shown in it anew.
        if (m_controller.settings().iconize) {
            m_ui.trayIcon->hide();
            m_ui.trayIcon->show();
        }
    } else if (isHidden() && !m_exitRequested && !m_controller.isClosing()) {
        // The tray went with the window put away in it: the window comes back minimised, where
        // the desktop still offers it.
        showMinimized();
    }
}

void MainWindow::showWorkerError(const QString& text)
{
    messageDlg(text, MsgKind::Error, {MsgButton::Ok}, QStringLiteral("Chyba"));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e)
{
    // The tooltip of the icon in an embedded tray is the status, not a hint: it is shown whether
    // hints are on or not, and for as long as the pointer rests on the icon rather than for the
    // hints' time. The icon's window is the toolkit's own; other trays show the tooltip
    // themselves.
    if (e->type() == QEvent::ToolTip && watched->inherits("QSystemTrayIconSys")) {
        auto* icon = static_cast<QWidget*>(watched);
        m_trayTipOwner = icon;
        QToolTip::showText(static_cast<QHelpEvent*>(e)->globalPos(), m_ui.trayIcon->toolTip(), icon,
                           QRect(), kTrayTipMs);
        return true;
    }
    return QMainWindow::eventFilter(watched, e);
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
    if (!m_exitRequested && m_controller.settings().iconize) {
        e->ignore();
        hideToTray();
        return;
    }
    // Before the event loop ends: the running job is told to stop, and what it asks of this
    // thread from now on is answered without being done.
    m_controller.beginShutdown();
    m_ui.trayIcon->hide();
    appLog().addEntry(QStringLiteral("MainFormClose"), QString());
    if (m_dialogs.closeHelp)
        m_dialogs.closeHelp();
    e->accept();
    QApplication::quit();
}

void MainWindow::changeEvent(QEvent* e)
{
    // Minimising hides the window in the tray while the icon is there, asked again when the
    // window is hidden.
    if (e->type() == QEvent::WindowStateChange && isMinimized() && trayShown())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && trayShown())
                hide();
        });
    QMainWindow::changeEvent(e);
}

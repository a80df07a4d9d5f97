#include "core/UnitMain.h"

#include "config/FormLook.h"
#include "config/MvRegIni.h"
#include "config/TxConsts.h"
#include "core/Events.h"
#include "core/MessageDlg.h"
#include "core/TxLog.h"
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

TFormMain::TFormMain(TDataModule1& controller, const QStringList& args, Dialogs dialogs)
    : m_controller(controller), m_args(args), m_dialogs(std::move(dialogs))
{
    setObjectName(QStringLiteral("FormMain"));
    setWindowFlags(Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    applyFormLook(this, m_controller.Settings);
    m_trayPictures = pictures::trayPictures();
    m_trayFrames = pictures::trayAnimation();
    setWindowIcon(pictures::applicationIcon());
    createActions();
    createWidgets();
    createTray();
    ApplyTrayOptions();

    resize(373, sizeHint().height());
    setMinimumWidth(300);
    setFixedHeight(height());
    SetRunState(true);
    RefreshStatus();
    setShowHints(m_controller.Settings.showHints);

    m_animation.setInterval(100);
    connect(&m_animation, &QTimer::timeout, this, &TFormMain::nextAnimationFrame);
    m_controller.setView(this);
}

TFormMain::~TFormMain()
{
    m_controller.setView(nullptr);
    AppLog().AddEntry(QStringLiteral("MainFormDestroy"), QString());
}

void TFormMain::createActions()
{
    ActionExit =
        makeAction(this, QStringLiteral("ActionExit"), QStringLiteral("&Konec"),
                   QKeySequence(Qt::ALT | Qt::Key_F4), 5, QStringLiteral("Ukončení aplikace"));
    ActionAbout = makeAction(this, QStringLiteral("ActionAbout"), QStringLiteral("&O aplikaci ..."),
                             {}, 9, {});
    ActionPlay = makeAction(this, QStringLiteral("ActionPlay"), QStringLiteral("&Spustit"),
                            QKeySequence(Qt::Key_S), 0,
                            QStringLiteral("Spuštění tisku|Posílá sestavy na tiskárnu"));
    ActionPause = makeAction(
        this, QStringLiteral("ActionPause"), QStringLiteral("&Pozastavit"),
        QKeySequence(Qt::Key_Space), 1,
        QStringLiteral("Pozastavení tisku|Po dokončení probíhajícího tisku se další tisk již "
                       "nespustí"));
    ActionStop = makeAction(
        this, QStringLiteral("ActionStop"), QStringLiteral("&Zastavit"), QKeySequence(Qt::Key_Z), 2,
        QStringLiteral("Zastavení tisku|Zruší probíhající tisk a pozastaví tisk dalších sestav"));
    const QString setupHint =
        QStringLiteral("Nastavení programu|Umožňuje nakonfigurovat jednotlivé možnosti");
    ActionSetup1 = makeAction(this, QStringLiteral("ActionSetup1"), QStringLiteral("&Možnosti ..."),
                              QKeySequence(Qt::Key_F8), 3, setupHint);
    // F8 belongs to the first of the two settings commands.
    ActionSetup2 = makeAction(this, QStringLiteral("ActionSetup2"), QStringLiteral("&Možnosti ..."),
                              {}, 3, setupHint);
    ActionWebUpdate = makeAction(
        this, QStringLiteral("ActionWebUpdate"), QStringLiteral("&Kontrola aktualizace"), {}, 8,
        QStringLiteral("Zjištění verze programu na Internetu|Zjistí poslední verzi na Inernetu a "
                       "nabídne její stažení"));
    ActionLstBrowser = makeAction(this, QStringLiteral("ActionLstBrowser"),
                                  QStringLiteral("Prohlížeč ses&tav..."), QKeySequence(Qt::Key_F3),
                                  6, QStringLiteral("Prohlížení a tisk uložených sestav"));
    ActionWebTarnyx =
        makeAction(this, QStringLiteral("ActionWebTarnyx"),
                   QStringLiteral("&Webová stránka %1").arg(productKeys().productKey), {}, -1, {});
    actHelp =
        makeAction(this, QStringLiteral("actHelp"), QStringLiteral("&Nápověda"),
                   QKeySequence(Qt::Key_F1), 4, QStringLiteral("Zobrazení nápovědy k aplikaci"));

    auto* group = new QActionGroup(this);
    ActionPlay->setCheckable(true);
    ActionPause->setCheckable(true);
    group->addAction(ActionPlay);
    group->addAction(ActionPause);
    ActionPause->setChecked(true);

    connect(ActionExit, &QAction::triggered, this, [this] {
        ExitRequested = true;
        close();
    });
    connect(ActionPlay, &QAction::triggered, this, &TFormMain::ActionPlayExecute);
    connect(ActionPause, &QAction::triggered, this, &TFormMain::ActionPauseExecute);
    connect(ActionStop, &QAction::triggered, this, [this] {
        m_controller.SetStopRequest(true);
        SetRunState(true);
    });
    connect(ActionSetup1, &QAction::triggered, this, [this] {
        OpenSettingsDialog();
        RefreshStatus();
        ApplyTrayOptions();
    });
    connect(ActionSetup2, &QAction::triggered, this, [this] {
        OpenSettingsDialog();
        if (m_controller.Settings.iconize && trayUsable()) {
            HideToTray();
        } else {
            RestoreFromTray();
        }
    });
    connect(ActionWebTarnyx, &QAction::triggered, this,
            [] { QDesktopServices::openUrl(QUrl(settingsConstants().urlTarnyx)); });
    connect(actHelp, &QAction::triggered, this, [this] {
        if (m_dialogs.help)
            m_dialogs.help(QStringLiteral("charakter.htm"));
    });

    // Windows that come later keep their commands out of sight until then.
    ActionAbout->setVisible(false);
    ActionWebUpdate->setVisible(false);
    ActionLstBrowser->setVisible(false);
    ActionAbout->setEnabled(false);
    ActionWebUpdate->setEnabled(false);
    ActionLstBrowser->setEnabled(false);
    actHelp->setEnabled(bool(m_dialogs.help));

    PrintingChanged(m_controller.Printing);

    for (QAction* a :
         {ActionExit, ActionPlay, ActionPause, ActionStop, ActionSetup1, ActionLstBrowser, actHelp})
        addAction(a);
}

void TFormMain::createWidgets()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&Soubor"));
    file->setObjectName(QStringLiteral("MenuFile"));
    file->addAction(ActionExit);
    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Nástroje"));
    tools->setObjectName(QStringLiteral("MenuTools"));
    tools->addActions({ActionPlay, ActionPause, ActionStop});
    tools->addSeparator();
    tools->addActions({ActionLstBrowser, ActionSetup1});
    QMenu* help = menuBar()->addMenu(QStringLiteral("Nápo&věda"));
    help->setObjectName(QStringLiteral("MenuHelp"));
    help->addActions({actHelp, ActionAbout});
    help->addSeparator();
    help->addActions({ActionWebUpdate, ActionWebTarnyx});

    QToolBar* bar = addToolBar(QStringLiteral("ToolBar3"));
    bar->setObjectName(QStringLiteral("ToolBar3"));
    bar->setMovable(false);
    bar->setIconSize(QSize(21, 21));
    bar->addActions({ActionPlay, ActionPause, ActionStop});
    bar->addSeparator();
    bar->addActions({ActionLstBrowser, ActionSetup1, actHelp});

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(8, 8, 8, 8);
    StaticText = new QLabel(central);
    StaticText->setObjectName(QStringLiteral("StaticText"));
    StaticText->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StaticText->setMinimumHeight(53);
    StaticText->setWordWrap(true);
    StaticText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    StaticText->setToolTip(QStringLiteral("Název tištěné sestavy"));
    ProgressBar = new QProgressBar(central);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(1, 100);
    ProgressBar->setFixedHeight(22);
    ProgressBar->setTextVisible(false);
    ProgressBar->setToolTip(QStringLiteral("Průběh tisku sestavy"));
    layout->addWidget(StaticText, 1);
    layout->addWidget(ProgressBar);
    setCentralWidget(central);

    const int widths[3] = {80, 50, 50};
    for (int i = 0; i < 3; ++i) {
        StatusPanels[i] = new QLabel(this);
        StatusPanels[i]->setMinimumWidth(widths[i]);
        StatusPanels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        if (i == 1)
            StatusPanels[i]->setAlignment(Qt::AlignCenter);
        StatusPanels[i]->setToolTip(
            QStringLiteral("Jméno souboru, tištěná strana/celkem stran, použitá tiskárna"));
        statusBar()->addPermanentWidget(StatusPanels[i], i == 2 ? 1 : 0);
    }
    statusBar()->setSizeGripEnabled(false);
}

void TFormMain::createTray()
{
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    QAction* restore = PopupMenu1->addAction(QStringLiteral("O&bnovit"));
    restore->setObjectName(QStringLiteral("MnuPopRestore"));
    QFont bold = restore->font();
    bold.setBold(true);
    restore->setFont(bold);
    connect(restore, &QAction::triggered, this, &TFormMain::RestoreFromTray);
    PopupMenu1->setDefaultAction(restore);
    PopupMenu1->addSeparator();

    // Items of their own that do what the window's commands do, without their shortcuts.
    auto item = [this](const QString& name, const QString& caption, QAction* like) {
        QAction* a = PopupMenu1->addAction(like->icon(), caption);
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
    item(QStringLiteral("MnuPopPlay"), ActionPlay->text(), ActionPlay);
    item(QStringLiteral("MnuPopPause"), ActionPause->text(), ActionPause);
    item(QStringLiteral("MnuPopStop"), QStringLiteral("&Zastavit"), ActionStop);
    PopupMenu1->addSeparator();
    item(QStringLiteral("MnuPopSetup"), QStringLiteral("&Možnosti ..."), ActionSetup2);
    item(QStringLiteral("MnuPopHelp"), QStringLiteral("&Nápověda"), actHelp);
    item(QStringLiteral("MnuPopAbout"), ActionAbout->text(), ActionAbout);
    PopupMenu1->addSeparator();
    item(QStringLiteral("MnuPopExit"), QStringLiteral("&Konec"), ActionExit);

    CoolTrayIcon1 = new QSystemTrayIcon(this);
    CoolTrayIcon1->setObjectName(QStringLiteral("CoolTrayIcon1"));
    CoolTrayIcon1->setContextMenu(PopupMenu1);
    if (!m_trayPictures.isEmpty())
        CoolTrayIcon1->setIcon(QIcon(m_trayPictures.first()));
    connect(CoolTrayIcon1, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    RestoreFromTray();
            });
}

bool TFormMain::trayUsable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TFormMain::ShowInitially()
{
    const bool hidden = m_controller.Settings.iconize && trayUsable() &&
                        platform::findCmdLineSwitch(m_args, QStringLiteral("min"));
    if (hidden)
        HideToTray();
    else
        show();
}

void TFormMain::SetRunState(bool paused)
{
    m_paused = paused;
    m_controller.SetPaused(paused);
    if (!paused)
        m_controller.StopRequest = false;
    setWindowTitle(
        QStringLiteral("%1 - %2").arg(QApplication::applicationName(), stateWord(paused)));
    UpdateTrayHint();
    if (m_controller.CurrentFile().isEmpty())
        ShowIdleIcon(paused);
    (paused ? ActionPause : ActionPlay)->setChecked(true);
}

void TFormMain::ActionPauseExecute()
{
    SetRunState(!m_paused);
}

void TFormMain::ActionPlayExecute()
{
    SetRunState(false);
    m_controller.SetStopRequest(false);
}

void TFormMain::RefreshStatus()
{
    const QString file = m_controller.CurrentFile();
    StatusPanels[0]->setText(file.isEmpty() ? QStringLiteral(" ... ") : file);
    StatusPanels[1]->setText(
        QStringLiteral(" %1/%2 ").arg(m_controller.PageNumber()).arg(m_controller.PageCount()));
    const QString printer = m_controller.Settings.printer;
    StatusPanels[2]->setText(printer.isEmpty() ? QStringLiteral("[žádná]") : printer);
    // Between jobs the text tells what the user should know about the spool directories.
    StaticText->setText(file.isEmpty() ? m_notice : cp1250ToUnicode(m_controller.ReportTitle()));
    const int progress = m_controller.Progress();
    if (progress < ProgressBar->minimum())
        ProgressBar->reset();
    else
        ProgressBar->setValue(progress);
    UpdateTrayHint();
}

void TFormMain::UpdateTrayHint()
{
    QString hint;
    if (m_controller.CurrentFile().isEmpty()) {
        hint = windowTitle();
    } else {
        hint = QStringLiteral("\"%1\"\r\nstrana %2 z %3\r\n%4")
                   .arg(cp1250ToUnicode(m_controller.ReportTitle()))
                   .arg(m_controller.PageNumber())
                   .arg(m_controller.PageCount())
                   .arg(m_controller.Settings.printer);
    }
    m_trayHint = hint.left(MaxTrayHint);
    QString shown = m_trayHint;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    CoolTrayIcon1->setToolTip(shown);
}

void TFormMain::ShowIdleIcon(bool paused)
{
    m_animation.stop();
    m_idlePicture = paused ? 2 : 1;
    if (m_idlePicture < m_trayPictures.size())
        CoolTrayIcon1->setIcon(QIcon(m_trayPictures.at(m_idlePicture)));
}

void TFormMain::StartTrayAnimation()
{
    m_frame = 0;
    nextAnimationFrame();
    m_animation.start();
}

void TFormMain::nextAnimationFrame()
{
    if (m_trayFrames.isEmpty())
        return;
    CoolTrayIcon1->setIcon(QIcon(m_trayFrames.at(m_frame % m_trayFrames.size())));
    ++m_frame;
}

void TFormMain::ApplyTrayOptions()
{
    // Where the desktop has no tray the icon could not bring the window back: it stays away.
    CoolTrayIcon1->setVisible(m_controller.Settings.iconize && trayUsable());
}

void TFormMain::HideToTray()
{
    if (!CoolTrayIcon1->isVisible()) {
        showMinimized(); // never hidden without a way back
        return;
    }
    hide();
}

void TFormMain::RestoreFromTray()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void TFormMain::OpenSettingsDialog()
{
    const bool wasRunning = !m_paused;
    SetRunState(true);
    m_controller.SetupOpen = true;
    m_controller.PlayDeferred = false;
    if (m_dialogs.settings)
        m_dialogs.settings(this);
    m_controller.SetupOpen = false;
    setShowHints(m_controller.Settings.showHints);
    if (wasRunning || m_controller.PlayDeferred)
        ActionPlayExecute();
    m_controller.PlayDeferred = false;
}

void TFormMain::PrintingChanged(bool printing)
{
    // The settings commands are offered only while nothing prints.
    const bool offered = !printing && bool(m_dialogs.settings);
    ActionSetup1->setEnabled(offered);
    ActionSetup2->setEnabled(offered);
}

void TFormMain::ShowNotice(const QString& text)
{
    m_notice = text;
    RefreshStatus();
}

void TFormMain::CheckTrayHost()
{
    // When the desktop's tray comes back (a restarted panel), the icon is shown anew.
    const bool available = trayUsable();
    if (available && !m_trayHostSeen && m_controller.Settings.iconize) {
        CoolTrayIcon1->hide();
        CoolTrayIcon1->show();
    }
    m_trayHostSeen = available;
}

void TFormMain::ShowWorkerError(const QString& text)
{
    MessageDlg(text, MsgKind::Error, {MsgButton::Ok}, QStringLiteral("Chyba"));
}

bool TFormMain::event(QEvent* e)
{
    if (e->type() == events::PrintState) {
        SetRunState(!static_cast<events::PrintStateEvent*>(e)->Run);
        return true;
    }
    return QMainWindow::event(e);
}

void TFormMain::closeEvent(QCloseEvent* e)
{
    AppLog().AddEntry(QStringLiteral("FormCloseQuery"), QString());
    if (!ExitRequested && m_controller.Settings.iconize) {
        e->ignore();
        HideToTray();
        return;
    }
    // Before the event loop ends: the running job is told to stop, and what it asks of this
    // thread from now on is answered without being done.
    m_controller.BeginShutdown();
    CoolTrayIcon1->hide();
    AppLog().AddEntry(QStringLiteral("MainFormClose"), QString());
    if (m_dialogs.closeHelp)
        m_dialogs.closeHelp();
    e->accept();
    QApplication::quit();
}

void TFormMain::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape && CoolTrayIcon1->isVisible()) {
        HideToTray();
        return;
    }
    QMainWindow::keyPressEvent(e);
}

void TFormMain::changeEvent(QEvent* e)
{
    // Minimising hides the window in the tray while the icon is there.
    if (e->type() == QEvent::WindowStateChange && isMinimized() && CoolTrayIcon1->isVisible())
        QTimer::singleShot(0, this, &TFormMain::hide);
    QMainWindow::changeEvent(e);
}

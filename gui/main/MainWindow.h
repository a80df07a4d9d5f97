#pragma once

#include "core/jobs/JobController.h"
#include "core/jobs/QueueStatus.h"
#include "gui/common/DesktopNotifier.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>

#include <functional>

// The program's small status window and the owner of its tray icon. It shows what the controller
// does, offers the commands that change the run state and opens the other windows.
class MainWindow : public QMainWindow, public ControllerView
{
    Q_OBJECT
public:
    // The dialogs the window opens; each may be left empty while its window does not exist yet.
    struct Dialogs
    {
        std::function<void(QWidget* parent)> settings; // modal settings dialog
        std::function<void(const QString& topic)> help;
        std::function<void()> closeHelp;
        std::function<void(QWidget* owner)> browser; // opens or raises the archive browser
        std::function<void(QWidget* owner)> about;   // modal about box
        // The user's version check; true when an installer was started and the program must end.
        std::function<bool(QWidget* owner)> updateCheck;
    };

    MainWindow(JobController& controller, const QStringList& args, Dialogs dialogs = {});
    ~MainWindow() override;

    // Shows the window, or starts hidden in the tray with "/min" while Iconize is on.
    void showInitially();

    void setRunState(bool paused);
    void refreshStatus();
    void updateTrayHint();
    void applyTrayOptions();
    void hideToTray();
    void restoreFromTray();
    void openSettingsDialog();

    // ControllerView
    void togglePause() override;
    void play() override;
    void showWorkerError(const QString& text) override;
    void startTrayAnimation() override;
    void showIdleIcon(bool paused) override;
    void checkTrayHost() override;
    void printingChanged(bool printing) override;
    void showNotice(const QString& text) override;
    void printerChecked() override { refreshStatus(); }

    // What the print server says about the printer reports go to: shown in the status bar, the
    // status text and the tray tooltip; a change is logged and told once.
    void showPrinterStatus(const QString& queue, const PrinterStatus& status);
    // Reports handed to the printer that have not come out yet.
    void showWaitingReports(const QString& queue, int count);
    // A followed job ended; one that did not print is logged, told, and offered again.
    void showJobEnded(const SubmittedJob& job, const JobStatus& status);
    // Puts the archived report of the first job that did not print into the re-print queue.
    void reprintUnprinted();
    // Drops the first job that did not print from the window.
    void dismissUnprinted();
    DesktopNotifier& notifier() { return m_notifier; }

    // The widgets, as the window lays them out.
    struct Widgets
    {
        QAction* exitAction;
        QAction* aboutAction;
        QAction* playAction;
        QAction* pauseAction;
        QAction* stopAction;
        QAction* settingsAction;
        QAction* spoolDirsAction;
        QAction* updateCheckAction;
        QAction* browserAction;
        QAction* webAction;
        QAction* helpAction;

        QLabel* statusText;
        QProgressBar* progressBar;
        QLabel* statusPanels[3];
        QSystemTrayIcon* trayIcon;
        QMenu* trayMenu;
        // A job that did not print, with the offer to print it again.
        QFrame* unprintedPanel;
        QLabel* unprintedText;
        QPushButton* reprintButton;
        QPushButton* dismissButton;
    };
    const Widgets& ui() const { return m_ui; }

    // The user chose to end the program (not just to close the window to the tray).
    bool exitRequested() const { return m_exitRequested; }
    void setExitRequested(bool requested) { m_exitRequested = requested; }
    // The tray tooltip as it is set (also where no tray exists).
    QString trayHint() const { return m_trayHint; }
    // True when the tray icon shows (would show) the animation.
    bool animating() const { return m_animation.isActive(); }
    int idlePicture() const { return m_idlePicture; }
    // How often the tray icon's picture or tooltip was set: each time may take down the tooltip
    // the desktop shows over the icon.
    int trayUpdates() const { return m_trayUpdates; }

    // The longest tray tooltip.
    static constexpr int kMaxTrayHint = 127;

    // Tests stand in for the desktop's tray: whether one is there at the moment asked; an empty
    // function asks the desktop again.
    static void setTrayAvailableForTests(std::function<bool()> available);

signals:
    // The printer reports go to, whenever the window shows another one.
    void printerShown(const QString& queue);

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    bool m_exitRequested = false;
    Widgets m_ui{};
    void createActions();
    void createWidgets();
    void createTray();
    bool trayUsable() const;
    // The icon is in a tray that is there now and can bring the window back.
    bool trayShown() const;
    void setTrayPicture(const QPixmap& picture);
    void updateBrowserAction();
    void nextAnimationFrame();
    void createUnprintedPanel(QWidget* parent);
    void showUnprinted();
    // The window is as high as what it shows (it cannot be resized by hand).
    void fitHeight();
    // The lines about the printer and the reports waiting on it, for the status text and tooltip.
    QStringList printerLines() const;
    // The queue is the one whose state the window last heard of (letter case ignored).
    bool isWatched(const QString& queue) const;

    JobController& m_controller;
    QStringList m_args;
    Dialogs m_dialogs;
    bool m_paused = true;
    QString m_trayHint;
    QString m_notice;
    QTimer m_animation;
    int m_frame = 0;
    int m_idlePicture = 0;
    bool m_trayHostSeen = false;
    qint64 m_trayPictureKey = 0;
    int m_trayUpdates = 0;
    QPointer<QWidget> m_trayTipOwner; // the icon's window the tray's tooltip was last shown for
    QList<QPixmap> m_trayPictures;
    QList<QPixmap> m_trayFrames;
    DesktopNotifier m_notifier;
    QString m_shownPrinter;
    QString m_watchedQueue;
    QStringList m_printerProblems; // of m_watchedQueue
    QString m_printerWord;
    bool m_printerKnown = false;
    QString m_waitingText;
    struct Unprinted
    {
        SubmittedJob job;
        QString text;
    };
    QList<Unprinted> m_unprinted;
};

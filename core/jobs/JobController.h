#pragma once

#include "core/config/AppSettings.h"
#include "core/jobs/JobState.h"
#include "core/platform/PrinterCatalog.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <QMap>
#include <QSet>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace platform {
class DirectoryLock;
class SpoolWatcher;
} // namespace platform

// A report the user chose to skip after a print error, with the file's time stamp then.
struct SkipEntry
{
    QString path;
    quint32 stamp = 0;
};

// What the controller asks of the main window and its tray icon.
class ControllerView
{
public:
    virtual ~ControllerView() = default;
    // The pause toggle, as the user's command does it.
    virtual void togglePause() = 0;
    // A modal error message box.
    virtual void showWorkerError(const QString& text) = 0;
    virtual void startTrayAnimation() = 0;
    virtual void showIdleIcon(bool paused) = 0;
    virtual void checkTrayHost() = 0;
    // Play, as the user's command does it.
    virtual void play() = 0;
    // A job starts or has ended: the settings commands are offered only between jobs.
    virtual void printingChanged(bool /*printing*/) {}
    // Something the user should know about the spool directories; empty when nothing.
    virtual void showNotice(const QString& /*text*/) {}
    // The settings' printer was changed by its check against the installed queues.
    virtual void printerChecked() {}
};

// The application-wide controller: created before any window and destroyed after the last one.
// It owns the settings, the run state, the re-print queue and the skip memory, and every two
// seconds hands at most one report file to a print worker.
class JobController : public QObject, public JobState
{
    Q_OBJECT
public:
    // Makes the print worker for one report file; the controller starts it and owns it.
    using WorkerFactory = std::function<std::unique_ptr<QThread>(const QString& path)>;

    // `args` are the program's arguments (without the program itself). Without `checker` the
    // settings' printer is checked against the installed queues as they are loaded, waiting for
    // the scheduler. With it the stored name stands at first, and a thread of its own asks
    // `checker` (a catalogue of the thread's own: a scheduler that hangs may keep the thread past
    // the controller's end); its answer applies once no job runs and no settings dialog is open,
    // unless the printer was changed meanwhile.
    JobController(const QStringList& args, PrinterCatalog& printers,
                  std::unique_ptr<PrinterCatalog> checker = nullptr, QObject* parent = nullptr);
    ~JobController() override;

    void setView(ControllerView* view) { m_view = view; }
    void setWorkerFactory(WorkerFactory factory) { m_makeWorker = std::move(factory); }

    AppSettings& settings() { return m_settings; }
    const AppSettings& settings() const { return m_settings; }
    PrinterCatalog& printerCatalog() const { return m_printerCatalog; }

    // Every two seconds: one report to a print worker.
    QTimer& tickTimer() { return m_tickTimer; }
    // One second after creation: polling on, and printing unless the settings say to stay
    // paused.
    QTimer& startupTimer() { return m_startupTimer; }
    // A report closed by its writer in a spool directory is looked at at once, not only at its
    // directory's turn (on by default; off for callers that drive every tick themselves).
    void setWakeOnReports(bool on);
    void onStartup();
    // Run by onStartup once printing has been started (the daily version check, where due); at
    // most once per run.
    void setStartupHook(std::function<void()> hook) { m_startupHook = std::move(hook); }

    bool isPaused() const { return m_paused; }
    // Reports the user skipped after a print error, held back until they change.
    QList<SkipEntry>& skipList() { return m_skipList; }
    // The spool directory the next tick looks at, as an index into the settings' directories.
    int dirIndex() const { return m_dirIndex; }
    // The settings dialog is open: no job starts, and play waits for it to close.
    bool isSetupOpen() const { return m_setupOpen; }
    void setSetupOpen(bool open);
    bool isPlayDeferred() const { return m_playDeferred; }
    void setPlayDeferred(bool deferred) { m_playDeferred = deferred; }
    // The program is ending: no new job starts, the running one is abandoned, and work it hands
    // to the user-interface thread is answered without being done.
    bool isClosing() const { return m_closing; }

    // After an installation: reads and deletes the first-run mark, removes the machine-wide
    // autostart entry and returns the greeting to show (empty when there is none).
    QString checkFirstRun();

    void onTick();
    // The spool directory to scan on this tick, or empty.
    QString nextSpoolDirectory();
    bool isSkipped(const QString& path) const;
    void startJob(const QString& path);
    void jobFinished();
    void setPaused(bool value) { m_paused = value; }
    // Paused and stopRequest both to `stop`.
    void setStopRequest(bool stop);

    QThread* worker() const { return m_worker.get(); }

    // The first step of every way the program ends, before the event loop is left: closing is
    // marked, the running job is told to stop and no timer starts another.
    void beginShutdown();
    // Serves the worker's calls to the user-interface thread (answered without doing them, as
    // the program is closing) until the worker has ended or `timeoutMs` has passed; true when no
    // worker runs any more.
    bool waitForWorker(int timeoutMs);
    // Lets go of a worker that would not end, for a program that ends at once without freeing
    // what the worker uses.
    void forgetWorker() { (void)m_worker.release(); }
    // What the controller does when it is destroyed (saving, clean-up, log); runs once.
    void shutdown();

    // Report files in a spool directory.
    static constexpr char16_t kReportPattern[] = u"LST?????.PRN";
    // An empty report file unchanged for this long is no longer being written.
    static constexpr int kAbandonedAfterSeconds = 60;

private:
    struct PrinterCheckLink;

    void initialise(PrinterCheck check);
    void startPrinterCheck(std::unique_ptr<PrinterCatalog> checker);
    // The check found `found` for the printer stored as `stored`.
    void takeCheckedPrinter(const QString& stored, const QString& found);
    // Applies the checked printer when nothing reads or edits the settings meanwhile.
    void applyCheckedPrinter();
    // True when this copy of the program may take reports from the spool directory: it holds
    // the directory's lock, or no lock can be made there at all.
    bool servesDirectory(const QString& dir);
    void setNotice(const QString& dir, const QString& text);
    void startTickTimer();
    // The next report to print: from the re-print queue first, else from the next spool
    // directory; empty when there is none.
    QString nextCandidate();
    // A report was closed by its writer (or moved in): its directory is looked at at once, in
    // a tick of its own, instead of waiting for its turn.
    void onReportReady(const QString& dir, const QString& name);
    void onWake();
    void postWake();
    void watchSpoolDirectories();

    AppSettings m_settings;
    PrinterCatalog& m_printerCatalog;
    QTimer m_tickTimer;
    QTimer m_startupTimer;
    std::function<void()> m_startupHook;
    bool m_paused = true;
    QList<SkipEntry> m_skipList;
    int m_dirIndex = 0;
    bool m_setupOpen = false;
    std::atomic<bool> m_closing{false};
    bool m_playDeferred = false;
    QStringList m_args;
    ControllerView* m_view = nullptr;
    WorkerFactory m_makeWorker;
    std::unique_ptr<QThread> m_worker;
    bool m_shutDown = false;
    std::map<QString, std::unique_ptr<platform::DirectoryLock>> m_spoolLocks;
    QMap<QString, QString> m_notices; // by spool directory
    QSet<QString> m_oddEntries;       // entries named like reports that are no files, noted once
    std::unique_ptr<platform::SpoolWatcher> m_watcher;
    QSet<QString> m_readyDirs; // spool directories with a report closed since they were looked at
    bool m_wakePosted = false;
    bool m_wakeOnReports = true;
    std::shared_ptr<PrinterCheckLink> m_printerCheck;
    std::optional<std::pair<QString, QString>> m_checkedPrinter; // stored name, name found
};

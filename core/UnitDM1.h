#pragma once

#include "config/AppSettings.h"
#include "core/JobState.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>

class PrinterCatalog;

// A report the user chose to skip after a print error, with the file's time stamp then.
struct SkipEntry
{
    QString Path;
    quint32 Stamp = 0;
};

// What the controller asks of the main window and its tray icon.
class ControllerView
{
public:
    virtual ~ControllerView() = default;
    // The pause toggle, as the user's command does it.
    virtual void ActionPauseExecute() = 0;
    // A modal error message box.
    virtual void ShowWorkerError(const QString& text) = 0;
    virtual void StartTrayAnimation() = 0;
    virtual void ShowIdleIcon(bool paused) = 0;
    virtual void CheckTrayHost() = 0;
    // Play, as the user's command does it.
    virtual void ActionPlayExecute() = 0;
};

// The application-wide controller: created before any window and destroyed after the last one.
// It owns the settings, the run state, the re-print queue and the skip memory, and every two
// seconds hands at most one report file to a print worker.
class TDataModule1 : public QObject, public JobState
{
    Q_OBJECT
public:
    // Makes the print worker for one report file; the controller starts it and owns it.
    using WorkerFactory = std::function<std::unique_ptr<QThread>(const QString& path)>;

    // `args` are the program's arguments (without the program itself).
    TDataModule1(const QStringList& args, PrinterCatalog& printers, QObject* parent = nullptr);
    ~TDataModule1() override;

    void setView(ControllerView* view) { m_view = view; }
    void setWorkerFactory(WorkerFactory factory) { m_makeWorker = std::move(factory); }

    TAppSettings Settings;
    PrinterCatalog& Printers;

    QTimer Timer1;
    bool Paused = true;
    QList<SkipEntry> SkipList;
    int DirIndex = 0;
    bool SetupOpen = false;
    // The program is ending: a print worker no longer hands work to the user-interface thread.
    std::atomic<bool> Closing{false};
    bool PlayDeferred = false;

    // One second after creation: polling on, and printing unless the settings say to stay
    // paused.
    QTimer StartupTimer;
    void StartupTick();

    // After an installation: reads and deletes the first-run mark, removes the machine-wide
    // autostart entry and returns the greeting to show (empty when there is none).
    QString CheckFirstRun();

    void Timer1Timer();
    // The spool directory to scan on this tick, or empty.
    QString NextSpoolDirectory();
    bool IsSkipped(const QString& path) const;
    void StartJob(const QString& path);
    void JobFinished();
    void SetPaused(bool paused) { Paused = paused; }
    // Paused and StopRequest both to `stop`.
    void SetStopRequest(bool stop);

    QThread* Worker() const { return m_worker.get(); }

    // The spool directories, one per item of Directories.
    static QStringList SpoolDirectories(const QString& directories);
    // Report files in a spool directory.
    static constexpr char16_t ReportPattern[] = u"LST?????.PRN";

private:
    void DataModuleCreate();
    void DataModuleDestroy();
    // The next report to print: from the re-print queue first, else from the next spool
    // directory; empty when there is none.
    QString nextCandidate();

    QStringList m_args;
    ControllerView* m_view = nullptr;
    WorkerFactory m_makeWorker;
    std::unique_ptr<QThread> m_worker;
};

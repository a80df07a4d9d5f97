#pragma once

#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A private CUPS scheduler for tests that print for real.
//
// Everything it uses lives in a temporary directory of its own: configuration, spool, logs and
// the Unix socket it listens on (never a TCP port), so that several test processes can each run
// one at the same time; /etc/cups and the system's scheduler are never touched. Every queue is a
// raw queue whose backend stores each job, byte for byte, as a file the test reads back.
//
// Clients reach it through CUPS_SERVER; environment() and exportToEnvironment() also point
// CUPS_SERVERROOT at the private configuration and drop LPDEST and PRINTER, so that neither
// /etc/cups/client.conf, /etc/cups/lpoptions nor the caller's environment changes which queue is
// the default.
class CupsFixture
{
public:
    CupsFixture();
    ~CupsFixture(); // stops the scheduler and removes the directory; nothing of it keeps running
    CupsFixture(const CupsFixture&) = delete;
    CupsFixture& operator=(const CupsFixture&) = delete;

    // Starts the scheduler with one capture queue per name (letters, digits, '.', '_', '-') and
    // makes `defaultQueue` the default when it is not empty (it must be one of `queues`). False
    // with reason() when the scheduler cannot start or a queue cannot be set up; nothing is left
    // running then. A running scheduler is stopped first. Call it from the thread that keeps the
    // fixture: the scheduler is also ended when that thread dies.
    bool start(const QStringList& queues = {QStringLiteral("tarnyx-test")},
               const QString& defaultQueue = {});
    // Lines added to the scheduler's configuration by the next start ("PreserveJobHistory No").
    void setExtraConfiguration(const QString& lines) { m_extraConfiguration = lines; }
    // Adds a queue with a printer driver (a PPD file of cups-filters, say): the real filter
    // chain runs and the capture backend stores what the driver makes of each job. `options` are
    // the queue's defaults ("PageSize=A4", "orientation-requested-default=4"). The scheduler
    // must be running. False with reason() when lpadmin refuses.
    bool addDriverQueue(const QString& queue, const QString& ppd, const QStringList& options = {});
    // Adds a raw queue whose backend is the shell script `backend` (a printer that fails, say:
    // "cat >/dev/null; echo 'ERROR: switched off' >&2; exit 1"), with the queue options given
    // ("printer-error-policy=stop-printer"). False with reason() when it cannot be set up.
    bool addScriptQueue(const QString& queue, const QByteArray& backend,
                        const QStringList& options = {});
    // Adds a queue on the device `uri` with the IPP Everywhere driver made from what the printer
    // there says (lpadmin -m everywhere); the system's ipp backend is made available for it.
    bool addEverywhereQueue(const QString& queue, const QString& uri);
    // Runs one of the scheduler's administration tools (cupsdisable, cupsenable, cupsreject,
    // cupsaccept, lpadmin, …) against this scheduler; false with reason() when it fails.
    bool runTool(const QString& tool, const QStringList& arguments);
    // Ends the scheduler (SIGTERM, then SIGKILL after 5 s); captured files stay until the
    // fixture is destroyed or started again.
    void stop();
    // Stops the scheduler as stop() does and, `pauseMs` later (processing events meanwhile),
    // starts it again on the same directory, configuration, queues and socket, as a package
    // upgrade or an administrator's restart does. False with reason() when it does not listen
    // again.
    bool restart(int pauseMs = 0);
    // Freezes the scheduler (SIGSTOP): it still takes connections on its socket and answers
    // none, as a hung one does. resume() lets it go on; stop() resumes it first.
    bool hang();
    void resume();
    bool isRunning() const;
    qint64 processId() const; // 0 when not running

    // Why start() failed or the scheduler died, with the tail of its error log.
    QString reason() const;
    QString errorLog() const;

    QString directory() const;
    QString serverSocket() const; // value for CUPS_SERVER
    // Points this process's libcups (and so Qt's print support) at the scheduler. Call it before
    // anything in the process talks to CUPS: libcups reads these variables once.
    void exportToEnvironment() const;
    QProcessEnvironment environment() const; // for child processes

    // Waits for the next job of `queue` not yet returned by this call and returns the path of its
    // captured file; empty on timeout, for an unknown queue or when the scheduler has died.
    // Jobs come in the order of their job ids. Processes events while it waits.
    QString waitForJob(const QString& queue, int timeoutMs = 20000);
    // Paths of all files captured so far for `queue`, in job order.
    QStringList capturedJobs(const QString& queue) const;
    // What the backend was given with a captured file: "job-id", "user", "title", "copies" and
    // "options" (empty when the file has no such record).
    static QHash<QString, QString> jobAttributes(const QString& capturedFile);

private:
    bool fail(const QString& message);
    bool writeConfiguration(const QStringList& queues);
    // Starts cupsd on the configuration in the directory and waits until it listens.
    bool launch();
    bool waitUntilListening(int timeoutMs);
    bool runAdmin(const QStringList& arguments)
    {
        return runTool(QStringLiteral("lpadmin"), arguments);
    }
    // False with reason() when the queue cannot be added (the scheduler is not running, the name
    // is taken or not a plain one).
    bool canAddQueue(const QString& queue);
    // lpadmin -p QUEUE -E -v URI, then `more` and each option as "-o option".
    bool addQueue(const QString& queue, const QString& uri, const QStringList& more,
                  const QStringList& options = {});
    // The filters and the system's backends run as another user: they must be able to reach the
    // spooled documents.
    void openToFilters();
    // Installs `script` as the backend `name` (owned and run as the tests' user).
    bool installBackend(const QString& name, const QByteArray& script);
    QString jobsDirectory(const QString& queue) const;
    QString path(const QString& relative) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_extraConfiguration;
    std::unique_ptr<QProcess> m_process;
    bool m_hung = false;
    QStringList m_queues;
    QHash<QString, QSet<QString>> m_returned;
    QString m_reason;
};

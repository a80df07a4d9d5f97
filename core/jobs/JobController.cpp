#include "core/jobs/JobController.h"

#include "core/config/RegistryIni.h"
#include "core/log/EventLog.h"
#include "core/platform/CommandLine.h"
#include "core/platform/DirectoryLock.h"
#include "core/platform/FileInfo.h"
#include "core/platform/SharedRead.h"
#include "core/platform/SpoolWatcher.h"
#include "core/platform/TimeScale.h"
#include "core/platform/Wildcard.h"
#include "core/report/OrientationMemory.h"
#include "core/report/ReportFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <mutex>
#include <thread>

// What the controller shares with the thread that checks its printer: the answer is handed over
// only while the controller exists.
struct JobController::PrinterCheckLink
{
    std::mutex lock;
    JobController* owner = nullptr;
};

JobController::JobController(const QStringList& args, PrinterCatalog& printers,
                             std::unique_ptr<PrinterCatalog> checker, QObject* parent)
    : QObject(parent), m_printerCatalog(printers), m_args(args)
{
    m_tickTimer.setInterval(scaledWaitMs(2000));
    connect(&m_tickTimer, &QTimer::timeout, this, &JobController::onTick);
    m_startupTimer.setSingleShot(true);
    m_startupTimer.setInterval(scaledWaitMs(1000));
    connect(&m_startupTimer, &QTimer::timeout, this, &JobController::onStartup);
    m_watcher = std::make_unique<platform::SpoolWatcher>();
    connect(m_watcher.get(), &platform::SpoolWatcher::fileReady, this,
            &JobController::onReportReady);
    initialise(checker ? PrinterCheck::Later : PrinterCheck::AtLoad);
    if (checker)
        startPrinterCheck(std::move(checker));
}

JobController::~JobController()
{
    if (m_printerCheck) {
        const std::lock_guard lock(m_printerCheck->lock);
        m_printerCheck->owner = nullptr;
    }
    shutdown();
}

void JobController::initialise(PrinterCheck check)
{
    setUpAppLog(platform::programFilePath(),
                platform::findCmdLineSwitch(m_args, QStringLiteral("log")));
    m_settings.load(m_printerCatalog, check);
    orientationMemory().load();
}

void JobController::startPrinterCheck(std::unique_ptr<PrinterCatalog> checker)
{
    const QString stored = m_settings.printer;
    if (stored.isEmpty())
        return;
    m_printerCheck = std::make_shared<PrinterCheckLink>();
    m_printerCheck->owner = this;
    // Not waited for: the program may end before a scheduler that hangs answers. The queued call
    // is posted under the lock, and a controller that is destroyed drops it with its events.
    std::thread([link = m_printerCheck, stored, checker = std::move(checker)] {
        const std::optional<QString> found = checkedPrinterName(stored, *checker);
        if (!found || *found == stored)
            return;
        const std::lock_guard lock(link->lock);
        if (JobController* owner = link->owner)
            QMetaObject::invokeMethod(
                owner, [owner, stored, name = *found] { owner->takeCheckedPrinter(stored, name); },
                Qt::QueuedConnection);
    }).detach();
}

void JobController::takeCheckedPrinter(const QString& stored, const QString& found)
{
    m_checkedPrinter = std::make_pair(stored, found);
    applyCheckedPrinter();
}

void JobController::applyCheckedPrinter()
{
    // A job reads the settings on its own thread, and the settings dialog edits them.
    if (!m_checkedPrinter || m_worker || m_setupOpen || m_closing)
        return;
    const auto [stored, found] = *std::exchange(m_checkedPrinter, std::nullopt);
    if (m_settings.printer != stored) // the user chose another one meanwhile
        return;
    m_settings.printer = found;
    m_printerCatalog.setCurrentPrinter(found);
    if (m_view)
        m_view->printerChecked();
}

void JobController::setSetupOpen(bool open)
{
    m_setupOpen = open;
    applyCheckedPrinter();
}

void JobController::beginShutdown()
{
    m_closing = true;
    setStopRequest(true);
    m_tickTimer.stop();
    m_startupTimer.stop();
}

bool JobController::waitForWorker(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (m_worker && m_worker->isRunning()) {
        if (clock.elapsed() >= timeoutMs)
            return false;
        // The worker may wait for the user-interface thread: its calls are served here.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        if (m_worker)
            m_worker->wait(20);
    }
    return true;
}

void JobController::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    beginShutdown();
    appLog().addEntry(QStringLiteral("DataModuleDestroy"), QStringLiteral("begin"));
    // A job still running is abandoned: it sees the stop at its next line. One that does not end
    // in a few seconds is left to end with the process.
    if (m_worker && !waitForWorker(3000))
        forgetWorker();
    // After the worker: a job remembers the orientation its user chose on its own thread.
    orientationMemory().save();
    // "/srcexe PATH": a file to delete when the program ends (a replaced program file after an
    // update). The switch is matched exactly.
    const qsizetype src = m_args.indexOf(QStringLiteral("/srcexe"));
    if (src >= 0 && src + 1 < m_args.size() && !m_args.at(src + 1).isEmpty())
        platform::removeFile(m_args.at(src + 1));
    appLog().addEntry(QStringLiteral("DataModuleDestroy"), QStringLiteral("end"));
}

QString JobController::checkFirstRun()
{
    const RegistryIni morvane(QStringLiteral("Software\\Morvane"));
    const bool firstRun =
        morvane.readBool(productKeys().productKey, QStringLiteral("FirstRun"), false)
            .value_or(false);
    if (!firstRun)
        return {};
    morvane.deleteKey(productKeys().productKey, QStringLiteral("FirstRun"));
    // The installation's own autostart entry for all users; failures (no rights) are ignored.
    RegistryIni(QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
                RegRoot::LocalMachine)
        .deleteKey(QString(), productKeys().productKey);
    return QStringLiteral("Verze %1.%2 byla úspěšně nainstalována.\rNovinky a změny naleznete v "
                          "nápovědě.")
        .arg(TARNYX_VERSION_MAJOR)
        .arg(TARNYX_VERSION_MINOR);
}

void JobController::startTickTimer()
{
    if (!m_closing)
        m_tickTimer.start();
}

void JobController::onStartup()
{
    m_startupTimer.stop();
    if (m_closing)
        return;
    m_tickTimer.start();
    watchSpoolDirectories();
    // Reports written while the program was not running are as ready as those closed from now
    // on: they go one after another at once, not one a tick.
    if (m_wakeOnReports) {
        for (const QString& dir : m_watcher->watchedDirectories())
            m_readyDirs.insert(dir);
        postWake();
    }
    if (!m_settings.runPaused) {
        if (m_setupOpen)
            m_playDeferred = true; // the settings dialog starts printing when it closes
        else if (m_view)
            m_view->play();
    }
    // Nothing else runs the hook, so the automatic check runs at most once per run, also when the
    // program keeps running past midnight.
    if (m_startupHook)
        m_startupHook();
}

void JobController::setStopRequest(bool stop)
{
    m_paused = stop;
    requestStop(stop);
}

QString JobController::nextSpoolDirectory()
{
    const QStringList items = spoolDirectoryList(m_settings.directories);
    ++m_dirIndex;
    if (m_dirIndex > items.size())
        m_dirIndex = 1;
    if (items.isEmpty())
        return {};
    const QString dir = items.at(m_dirIndex - 1);
    return platform::isDirectory(dir) ? dir : QString();
}

bool JobController::isSkipped(const QString& path) const
{
    const std::optional<platform::FoundFile> found = platform::findFile(path);
    if (!found)
        return false;
    for (const SkipEntry& e : m_skipList)
        if (e.path == path && e.stamp == found->dosTime)
            return true;
    return false;
}

void JobController::setNotice(const QString& dir, const QString& text)
{
    if (m_notices.value(dir) == text)
        return;
    if (text.isEmpty()) {
        m_notices.remove(dir);
    } else {
        m_notices.insert(dir, text);
        appLog().addEntry(QStringLiteral("Spool"), text);
    }
    if (m_view)
        m_view->showNotice(QStringList(m_notices.values()).join(u'\n'));
}

bool JobController::servesDirectory(const QString& dir)
{
    std::unique_ptr<platform::DirectoryLock>& lock = m_spoolLocks[dir];
    if (!lock)
        lock = std::make_unique<platform::DirectoryLock>(dir);
    switch (lock->tryLock()) {
    case platform::DirectoryLock::State::Held:
        setNotice(dir, QString());
        return true;
    case platform::DirectoryLock::State::HeldByOther:
        // Asked again on its next turn: the other copy may end.
        setNotice(dir,
                  QStringLiteral("Složku %1 obsluhuje jiná spuštěná kopie programu.").arg(dir));
        return false;
    case platform::DirectoryLock::State::Untrusted:
        // Its owner could hold the lock, or fill the file: until a lock file of the program's
        // own is there, nothing is printed from the folder.
        setNotice(dir,
                  lock->foreignRemoved()
                      ? QStringLiteral("Ve složce %1 byl cizí zámek .tarnyx.lock (vlastník %2); "
                                       "program jej odstranil a nahradí vlastním.")
                            .arg(dir, lock->foreignOwner())
                      : QStringLiteral("Ve složce %1 je cizí zámek .tarnyx.lock (vlastník %2), "
                                       "který program nemůže odstranit (%3); ze složky se "
                                       "netiskne, dokud jej správce neodstraní.")
                            .arg(dir, lock->foreignOwner(), fileErrorText(lock->error())));
        return false;
    case platform::DirectoryLock::State::Unavailable:
        break;
    }
    // A read-only folder, or a file system without locks: only the rule of one running copy
    // per user guards it.
    setNotice(dir, QStringLiteral("Složku %1 nelze zamknout (%2); jiná kopie programu z ní může "
                                  "tisknout také.")
                       .arg(dir, fileErrorText(lock->error())));
    return true;
}

QString JobController::nextCandidate()
{
    {
        QMutexLocker lock(&queueLock());
        const qsizetype count = reprintQueue().size();
        for (qsizetype i = 0; i < count; ++i) {
            ReprintEntry& e = reprintQueue()[i];
            if (e.taken || isSkipped(e.path))
                continue;
            e.taken = true;
            return e.path;
        }
    }
    const QStringList dirs = spoolDirectoryList(m_settings.directories);
    // A directory no longer in the list is given back to other copies.
    std::erase_if(m_spoolLocks, [&dirs](const auto& entry) { return !dirs.contains(entry.first); });
    for (const QString& dir : m_notices.keys())
        if (!dirs.contains(dir))
            setNotice(dir, QString());

    const QString dir = nextSpoolDirectory();
    if (dir.isEmpty() || !servesDirectory(dir))
        return {};
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (const platform::DirEntry& match :
         platform::findMatches(dir, QString::fromUtf16(kReportPattern))) {
        const QString path = QDir(dir).filePath(match.name);
        // Only a plain file is a report: a folder, pipe, device or link of that name is passed
        // over, so it never holds back the reports after it.
        if (!match.isRegular) {
            if (!m_oddEntries.contains(path)) {
                m_oddEntries.insert(path);
                appLog().addEntry(QStringLiteral("Položka není soubor sestavy"), path);
            }
            continue;
        }
        // An empty report is still being written: the ones after it wait for a later tick.
        // One that has stayed empty for a minute was abandoned by its writer and holds back
        // nothing.
        if (match.size == 0) {
            if (now - match.mtimeSec < kAbandonedAfterSeconds)
                return {};
            continue;
        }
        if (isSkipped(path))
            continue;
        // So is one that its writer still holds open: it is taken once the writer is done,
        // rather than failing in the print job with an error the user has to answer.
        if (platform::SharedReadFile().open(path) == platform::SharedReadFile::Result::InUse)
            return {};
        return path;
    }
    return {};
}

void JobController::setWakeOnReports(bool on)
{
    m_wakeOnReports = on;
    m_readyDirs.clear();
    watchSpoolDirectories();
}

void JobController::watchSpoolDirectories()
{
    if (!m_wakeOnReports) {
        m_watcher->setDirectories({});
        return;
    }
    // Directories that do not exist (yet) are left to the ticks; one made again is watched anew.
    QStringList existing;
    for (const QString& dir : spoolDirectoryList(m_settings.directories))
        if (platform::isDirectory(dir))
            existing << dir;
    m_watcher->setDirectories(existing);
}

void JobController::onReportReady(const QString& dir, const QString& name)
{
    if (!name.isEmpty() && !platform::wildcardMatch(kReportPattern, name))
        return;
    m_readyDirs.insert(dir);
    postWake();
}

void JobController::postWake()
{
    // Once the events that came together are all in.
    if (!m_wakePosted && !m_readyDirs.isEmpty()) {
        m_wakePosted = true;
        QTimer::singleShot(0, this, &JobController::onWake);
    }
}

void JobController::onWake()
{
    m_wakePosted = false;
    // Until a job starts (a finishing job wakes again) or no directory is left to look at: one
    // that gives nothing (its report was taken meanwhile, or is still held) must not keep the
    // others waiting for their turns.
    while (!m_closing && !m_paused && !m_worker && !m_readyDirs.isEmpty()) {
        // The first ready directory in turn from the one looked at last: the tick looks at it,
        // and the turns go on from there, so directories that keep getting reports take turns.
        const QStringList dirs = spoolDirectoryList(m_settings.directories);
        int found = -1;
        for (int step = 0; step < dirs.size() && found < 0; ++step) {
            const int i = (m_dirIndex + step) % int(dirs.size());
            if (m_readyDirs.contains(dirs.at(i)))
                found = i;
        }
        if (found < 0) {
            m_readyDirs.clear(); // none of them is a spool directory any more
            return;
        }
        const QString dir = dirs.at(found);
        m_dirIndex = found; // the tick's turn moves on to it
        onTick();
        // A directory that gave a job may hold more: it is looked at again when the job is done.
        if (!m_worker)
            m_readyDirs.remove(dir);
    }
}

void JobController::onTick()
{
    // An error that no print error dialog is going to show (the worker is gone). While a
    // worker exists, its own finishing step shows its error.
    if (m_closing)
        return;
    watchSpoolDirectories();
    if (!m_worker && !workerError().isEmpty()) {
        m_tickTimer.stop();
        if (m_view)
            m_view->togglePause();
        const QString text = takeWorkerError();
        if (m_view && !text.isEmpty())
            m_view->showWorkerError(text);
        startTickTimer();
    }
    if (!m_paused && !m_worker && !m_closing) {
        m_tickTimer.stop();
        const QString candidate = nextCandidate();
        if (!candidate.isEmpty())
            startJob(candidate);
        startTickTimer();
    }
    if (m_view)
        m_view->checkTrayHost();
}

void JobController::startJob(const QString& path)
{
    if (!m_makeWorker)
        return;
    m_worker = m_makeWorker(path);
    if (!m_worker)
        return;
    setWorkerError(QString());
    // Marked here, on the user-interface thread, before the worker runs: no settings dialog can
    // open over a job that has begun.
    setPrinting(true);
    if (m_view)
        m_view->printingChanged(true);
    connect(m_worker.get(), &QThread::finished, this, &JobController::jobFinished,
            Qt::QueuedConnection);
    m_worker->start(); // the worker sets its own niceness from highPriority
    if (m_settings.printByOne && m_view)
        m_view->togglePause();
    if (m_view)
        m_view->startTrayAnimation();
}

void JobController::jobFinished()
{
    if (m_worker && !m_worker->isFinished())
        return;
    m_worker.reset();
    setPrinting(false);
    if (m_view) {
        m_view->printingChanged(false);
        m_view->showIdleIcon(m_paused);
    }
    applyCheckedPrinter();
    postWake();
}

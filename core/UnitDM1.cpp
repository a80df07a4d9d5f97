#include "core/UnitDM1.h"

#include "config/MvRegIni.h"
#include "core/TxLog.h"
#include "platform/CommandLine.h"
#include "platform/DirectoryLock.h"
#include "platform/FileInfo.h"
#include "platform/SharedRead.h"
#include "platform/Wildcard.h"
#include "report/ReportFile.h"
#include "report/UnitOrient.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

TDataModule1::TDataModule1(const QStringList& args, PrinterCatalog& printers, QObject* parent)
    : QObject(parent), Printers(printers), m_args(args)
{
    Timer1.setInterval(2000);
    connect(&Timer1, &QTimer::timeout, this, &TDataModule1::Timer1Timer);
    StartupTimer.setSingleShot(true);
    StartupTimer.setInterval(1000);
    connect(&StartupTimer, &QTimer::timeout, this, &TDataModule1::StartupTick);
    DataModuleCreate();
}

TDataModule1::~TDataModule1()
{
    Shutdown();
}

void TDataModule1::DataModuleCreate()
{
    SetUpAppLog(platform::programFilePath(),
                platform::findCmdLineSwitch(m_args, QStringLiteral("log")));
    Settings.loadSettings(Printers);
    orientationMemory().load();
}

void TDataModule1::BeginShutdown()
{
    Closing = true;
    SetStopRequest(true);
    Timer1.stop();
    StartupTimer.stop();
}

bool TDataModule1::WaitForWorker(int timeoutMs)
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

void TDataModule1::Shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    BeginShutdown();
    AppLog().AddEntry(QStringLiteral("DataModuleDestroy"), QStringLiteral("begin"));
    // A job still running is abandoned: it sees the stop at its next line. One that does not end
    // in a few seconds is left to end with the process.
    if (m_worker && !WaitForWorker(3000))
        ForgetWorker();
    // After the worker: a job remembers the orientation its user chose on its own thread.
    orientationMemory().save();
    // "/srcexe PATH": a file to delete when the program ends (a replaced program file after an
    // update). The switch is matched exactly.
    const qsizetype src = m_args.indexOf(QStringLiteral("/srcexe"));
    if (src >= 0 && src + 1 < m_args.size() && !m_args.at(src + 1).isEmpty())
        QFile::remove(m_args.at(src + 1));
    AppLog().AddEntry(QStringLiteral("DataModuleDestroy"), QStringLiteral("end"));
}

QString TDataModule1::CheckFirstRun()
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

void TDataModule1::startTimer1()
{
    if (!Closing)
        Timer1.start();
}

void TDataModule1::StartupTick()
{
    StartupTimer.stop();
    if (Closing)
        return;
    Timer1.start();
    if (Settings.runPaused)
        return;
    if (SetupOpen)
        PlayDeferred = true; // the settings dialog starts printing when it closes
    else if (m_view)
        m_view->ActionPlayExecute();
}

void TDataModule1::SetStopRequest(bool stop)
{
    Paused = stop;
    StopRequest = stop;
}

QStringList TDataModule1::SpoolDirectories(const QString& directories)
{
    return directories.split(u';', Qt::SkipEmptyParts);
}

QString TDataModule1::NextSpoolDirectory()
{
    const QStringList items = SpoolDirectories(Settings.directories);
    ++DirIndex;
    if (DirIndex > items.size())
        DirIndex = 1;
    if (items.isEmpty())
        return {};
    const QString dir = items.at(DirIndex - 1);
    return QFileInfo(dir).isDir() ? dir : QString();
}

bool TDataModule1::IsSkipped(const QString& path) const
{
    const std::optional<platform::FoundFile> found = platform::findFile(path);
    if (!found)
        return false;
    for (const SkipEntry& e : SkipList)
        if (e.Path == path && e.Stamp == found->dosTime)
            return true;
    return false;
}

void TDataModule1::setNotice(const QString& dir, const QString& text)
{
    if (m_notices.value(dir) == text)
        return;
    if (text.isEmpty()) {
        m_notices.remove(dir);
    } else {
        m_notices.insert(dir, text);
        AppLog().AddEntry(QStringLiteral("Spool"), text);
    }
    if (m_view)
        m_view->ShowNotice(QStringList(m_notices.values()).join(u'\n'));
}

bool TDataModule1::servesDirectory(const QString& dir)
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

QString TDataModule1::nextCandidate()
{
    {
        QMutexLocker lock(&QueueLock);
        const qsizetype count = ReprintQueue.size();
        for (qsizetype i = 0; i < count; ++i) {
            ReprintEntry& e = ReprintQueue[i];
            if (e.Taken || IsSkipped(e.Path))
                continue;
            e.Taken = true;
            return e.Path;
        }
    }
    const QStringList dirs = SpoolDirectories(Settings.directories);
    // A directory no longer in the list is given back to other copies.
    std::erase_if(m_spoolLocks, [&dirs](const auto& entry) { return !dirs.contains(entry.first); });
    for (const QString& dir : m_notices.keys())
        if (!dirs.contains(dir))
            setNotice(dir, QString());

    const QString dir = NextSpoolDirectory();
    if (dir.isEmpty() || !servesDirectory(dir))
        return {};
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (const platform::DirEntry& match :
         platform::findMatches(dir, QString::fromUtf16(ReportPattern))) {
        const QString path = QDir(dir).filePath(match.name);
        // Only a plain file is a report: a folder, pipe, device or link of that name is passed
        // over, so it never holds back the reports after it.
        if (!match.isRegular) {
            if (!m_oddEntries.contains(path)) {
                m_oddEntries.insert(path);
                AppLog().AddEntry(QStringLiteral("Položka není soubor sestavy"), path);
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
        if (IsSkipped(path))
            continue;
        // So is one that its writer still holds open: it is taken once the writer is done,
        // rather than failing in the print job with an error the user has to answer.
        if (platform::SharedReadFile().open(path) == platform::SharedReadFile::Result::InUse)
            return {};
        return path;
    }
    return {};
}

void TDataModule1::Timer1Timer()
{
    // An error that no print error dialog is going to show (the worker is gone). While a
    // worker exists, its own finishing step shows its error.
    if (Closing)
        return;
    if (!m_worker && !WorkerError().isEmpty()) {
        Timer1.stop();
        if (m_view)
            m_view->ActionPauseExecute();
        const QString text = TakeWorkerError();
        if (m_view && !text.isEmpty())
            m_view->ShowWorkerError(text);
        startTimer1();
    }
    if (!Paused && !m_worker && !Closing) {
        Timer1.stop();
        const QString candidate = nextCandidate();
        if (!candidate.isEmpty())
            StartJob(candidate);
        startTimer1();
    }
    if (m_view)
        m_view->CheckTrayHost();
}

void TDataModule1::StartJob(const QString& path)
{
    if (!m_makeWorker)
        return;
    m_worker = m_makeWorker(path);
    if (!m_worker)
        return;
    SetWorkerError(QString());
    // Marked here, on the user-interface thread, before the worker runs: no settings dialog can
    // open over a job that has begun.
    Printing = true;
    if (m_view)
        m_view->PrintingChanged(true);
    connect(m_worker.get(), &QThread::finished, this, &TDataModule1::JobFinished,
            Qt::QueuedConnection);
    m_worker->start(); // the worker sets its own niceness from highPriority
    if (Settings.printByOne && m_view)
        m_view->ActionPauseExecute();
    if (m_view)
        m_view->StartTrayAnimation();
}

void TDataModule1::JobFinished()
{
    if (m_worker && !m_worker->isFinished())
        return;
    m_worker.reset();
    Printing = false;
    if (m_view) {
        m_view->PrintingChanged(false);
        m_view->ShowIdleIcon(Paused);
    }
}

#include "core/UnitDM1.h"

#include "config/MvRegIni.h"
#include "core/TxLog.h"
#include "platform/CommandLine.h"
#include "platform/FileInfo.h"
#include "platform/SharedRead.h"
#include "platform/Wildcard.h"
#include "report/UnitOrient.h"

#include <QDir>
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
    DataModuleDestroy();
}

void TDataModule1::DataModuleCreate()
{
    SetUpAppLog(platform::programFilePath(),
                platform::FindCmdLineSwitch(m_args, QStringLiteral("log")));
    Settings.LoadSettings(Printers);
    LstList().Load();
}

void TDataModule1::DataModuleDestroy()
{
    Timer1.stop();
    AppLog().AddEntry(QStringLiteral("DataModuleDestroy"), QStringLiteral("begin"));
    LstList().Save();
    // A job still running is abandoned. Closing keeps it from waiting for the user-interface
    // thread any more, so it sees the stop at its next line; should it not end in a few seconds,
    // it is left to end with the process.
    if (m_worker && m_worker->isRunning()) {
        Closing = true;
        StopRequest = true;
        if (!m_worker->wait(3000))
            (void)m_worker.release();
    }
    // "/srcexe PATH": a file to delete when the program ends (a replaced program file after an
    // update). The switch is matched exactly.
    const qsizetype src = m_args.indexOf(QStringLiteral("/srcexe"));
    if (src >= 0 && src + 1 < m_args.size() && !m_args.at(src + 1).isEmpty())
        QFile::remove(m_args.at(src + 1));
    AppLog().AddEntry(QStringLiteral("DataModuleDestroy"), QStringLiteral("end"));
}

QString TDataModule1::CheckFirstRun()
{
    const TMvRegIni morvane(QStringLiteral("Software\\Morvane"));
    const bool firstRun =
        morvane.ReadBool(Morvane().ProductKey, QStringLiteral("FirstRun"), false).value_or(false);
    if (!firstRun)
        return {};
    morvane.DeleteKey(Morvane().ProductKey, QStringLiteral("FirstRun"));
    // The installation's own autostart entry for all users; failures (no rights) are ignored.
    TMvRegIni(QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
              RegRoot::LocalMachine)
        .DeleteKey(QString(), Morvane().ProductKey);
    return QStringLiteral("Verze %1.%2 byla úspěšně nainstalována.\rNovinky a změny naleznete v "
                          "nápovědě.")
        .arg(TARNYX_VERSION_MAJOR)
        .arg(TARNYX_VERSION_MINOR);
}

void TDataModule1::StartupTick()
{
    StartupTimer.stop();
    Timer1.start();
    if (Settings.RunPaused)
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
    const QStringList items = SpoolDirectories(Settings.Directories);
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
    const QString dir = NextSpoolDirectory();
    if (dir.isEmpty())
        return {};
    for (const platform::DirEntry& match :
         platform::FindMatches(dir, QString::fromUtf16(ReportPattern))) {
        // An empty report is still being written: the ones after it wait for a later tick.
        if (match.size == 0)
            return {};
        const QString path = QDir(dir).filePath(match.name);
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
    if (!m_worker && !WorkerError().isEmpty()) {
        Timer1.stop();
        if (m_view)
            m_view->ActionPauseExecute();
        const QString text = TakeWorkerError();
        if (m_view && !text.isEmpty())
            m_view->ShowWorkerError(text);
        Timer1.start();
    }
    if (!Paused && !m_worker) {
        Timer1.stop();
        const QString candidate = nextCandidate();
        if (!candidate.isEmpty())
            StartJob(candidate);
        Timer1.start();
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
    connect(m_worker.get(), &QThread::finished, this, &TDataModule1::JobFinished,
            Qt::QueuedConnection);
    m_worker->start(Settings.HighPriority ? QThread::HighPriority : QThread::LowPriority);
    if (Settings.PrintByOne && m_view)
        m_view->ActionPauseExecute();
    if (m_view)
        m_view->StartTrayAnimation();
}

void TDataModule1::JobFinished()
{
    if (m_worker && !m_worker->isFinished())
        return;
    m_worker.reset();
    if (m_view)
        m_view->ShowIdleIcon(Paused);
}

#include "browser/ReportActions.h"

#include "core/JobState.h"
#include "core/MessageDlg.h"
#include "report/ReportHeader.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QWidget>

#include <exception>

namespace {

const QString kPrintCaption = QStringLiteral("Tisk");

// The home trash, $XDG_DATA_HOME/Trash (by default ~/.local/share/Trash), created when missing.
// QFile::moveToTrash does not create the data directory: without it the file would be moved into
// "files" under the current directory. Empty when it cannot be made.
QString ensureHomeTrash()
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty())
        return {};
    const QString trash = QDir(dataHome).filePath(QStringLiteral("Trash"));
    if (!QFileInfo(trash).isDir()) {
        if (!QDir().mkpath(trash))
            return {};
        QFile::setPermissions(trash, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                         QFileDevice::ExeOwner);
    }
    return QFileInfo(trash).isDir() ? trash : QString();
}

void postToTopLevelWidgets(const ReportHeader* report, events::DeleteOrigin origin)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        QCoreApplication::postEvent(window, new events::ReportDeletedEvent(report, origin));
}

} // namespace

bool moveFileToTrash(const QString& path)
{
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    if (ensureHomeTrash().isEmpty())
        return false;
    return QFile::moveToTrash(path);
}

DeleteResult deleteReportEx(const ReportHeader* report, events::DeleteOrigin origin)
{
    if (!report)
        return DeleteResult::Failed;
    const MsgButton answer = messageDlg(
        QStringLiteral("Opravdu odstranit sestavu ?\r(Soubor na disku bude přesunut do koše.)"),
        MsgKind::Confirmation, {MsgButton::Yes, MsgButton::No},
        QStringLiteral("Odstranění sestavy"));
    if (answer != MsgButton::Yes)
        return DeleteResult::Declined;
    if (!moveFileToTrash(report->fileName))
        return DeleteResult::Failed;
    postToTopLevelWidgets(report, origin);
    return DeleteResult::Deleted;
}

bool deleteReport(const ReportHeader* report, events::DeleteOrigin origin)
{
    return deleteReportEx(report, origin) == DeleteResult::Deleted;
}

void requeueReport(const ReportHeader* report, JobState& state)
{
    if (!report)
        return;
    const QString directory = QFileInfo(report->fileName).path().toUpper();
    if (!directory.endsWith(QLatin1String("BAKPRN"))) {
        messageDlg(QStringLiteral("Nelze určit adresář."), MsgKind::Error, {MsgButton::Ok},
                   kPrintCaption);
        return;
    }
    bool queued = false;
    {
        QMutexLocker lock(&state.queueLock());
        try {
            state.reprintQueue().append(ReprintEntry{report->fileName, false});
            queued = true;
        } catch (const std::exception&) {
            queued = false;
        }
    }
    if (queued)
        messageDlg(QStringLiteral("Sestava byla zařazena do tiskové fronty."), MsgKind::Information,
                   {MsgButton::Ok}, kPrintCaption);
    else
        messageDlg(QStringLiteral("Sestavu se nepodařilo zařadit do tiskové fronty."),
                   MsgKind::Error, {MsgButton::Ok}, kPrintCaption);
}

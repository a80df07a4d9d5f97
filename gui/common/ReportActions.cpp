#include "gui/common/ReportActions.h"

#include "core/archive/Archive.h"
#include "core/jobs/JobState.h"
#include "core/platform/Trash.h"
#include "core/report/ReportHeader.h"
#include "gui/common/MessageDlg.h"

#include <QApplication>
#include <QFileInfo>
#include <QMutexLocker>
#include <QWidget>

#include <exception>

namespace {

const QString kPrintCaption = QStringLiteral("Tisk");

void postToTopLevelWidgets(const ReportHeader* report, events::DeleteOrigin origin)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        QCoreApplication::postEvent(
            window, new events::ReportDeletedEvent(report, origin, report->fileName));
}

} // namespace

DeleteResult deleteReport(const ReportHeader* report, events::DeleteOrigin origin)
{
    if (!report)
        return DeleteResult::Failed;
    const MsgButton answer = messageDlg(
        QStringLiteral("Opravdu odstranit sestavu ?\r(Soubor na disku bude přesunut do koše.)"),
        MsgKind::Confirmation, {MsgButton::Yes, MsgButton::No},
        QStringLiteral("Odstranění sestavy"));
    if (answer != MsgButton::Yes)
        return DeleteResult::Declined;
    if (!platform::moveToTrash(report->fileName))
        return DeleteResult::Failed;
    postToTopLevelWidgets(report, origin);
    return DeleteResult::Deleted;
}

void requeueReport(const ReportHeader* report, JobState& state)
{
    if (!report)
        return;
    if (!isArchiveDirectory(QFileInfo(report->fileName).path())) {
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

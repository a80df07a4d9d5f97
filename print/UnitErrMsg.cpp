#include "print/UnitErrMsg.h"

#include "browser/ReportActions.h"
#include "config/FormLook.h"
#include "core/Events.h"
#include "core/MessageDlg.h"
#include "core/UnitDM1.h"
#include "platform/FileInfo.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QMutexLocker>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

namespace {

constexpr int kClientWidth = 388;
constexpr int kClientHeight = 175;
constexpr int kTextHeight = 97;

QAction* makeAction(QObject* parent, const QString& caption, const QString& hint)
{
    auto* action = new QAction(caption, parent);
    action->setToolTip(hint);
    action->setStatusTip(hint);
    return action;
}

// A header that was never read has no time stamp; the file's own keeps the skip in force until
// the file is rewritten.
SkipEntry skipEntryFor(const ReportHeader& report)
{
    quint32 stamp = report.fileTime;
    if (stamp == 0) {
        if (const std::optional<platform::FoundFile> found = platform::findFile(report.fileName))
            stamp = found->dosTime;
    }
    return SkipEntry{report.fileName, stamp};
}

void postToTopLevelWidgets(bool run)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        QCoreApplication::postEvent(window, new events::PrintStateEvent(run));
}

} // namespace

TFormErrMsg::TFormErrMsg(const AppSettings& settings, QWidget* parent)
    : IconTextDialog({QStringLiteral("FormErrMsg"), QStringLiteral("Chyba"),
                      QSize(kClientWidth, kClientHeight), kTextHeight, 120,
                      QStyle::SP_MessageBoxCritical},
                     parent)
{
    actDelete = makeAction(this, QStringLiteral("&Smazat"),
                           QStringLiteral("Smazáním se chybný soubor přesune do koše."));
    actSkip = makeAction(
        this, QStringLiteral("&Přeskočit"),
        QStringLiteral("Chybný soubor se bude ignorovat až do příštího spuštění aplikace."));
    actRetry = makeAction(this, QStringLiteral("&Opakovat"),
                          QStringLiteral("Chybný soubor bude znova zařazen do tiskové fronty."));
    actDelete->setObjectName(QStringLiteral("actDelete"));
    actSkip->setObjectName(QStringLiteral("actSkip"));
    actRetry->setObjectName(QStringLiteral("actRetry"));
    connect(actDelete, &QAction::triggered, this, &TFormErrMsg::actDeleteExecute);
    connect(actSkip, &QAction::triggered, this, &TFormErrMsg::actSkipExecute);
    connect(actRetry, &QAction::triggered, this, &TFormErrMsg::actRetryExecute);

    // Created in tab order.
    btnDelete = addButton(QStringLiteral("btnDelete"), 128);
    btnSkip = addButton(QStringLiteral("btnSkip"), 216);
    btnRetry = addButton(QStringLiteral("btnRetry"), 304);
    bindButton(btnDelete, actDelete);
    bindButton(btnSkip, actSkip);
    bindButton(btnRetry, actRetry);

    SetMessage(QString());
    FormCreate(settings);
    actUpdate();
    btnDelete->setFocus();
}

void TFormErrMsg::FormCreate(const AppSettings& settings)
{
    applyFormLook(this, settings);
}

void TFormErrMsg::SetMessage(const QString& text)
{
    setText(MsgDisplayText(text));
}

void TFormErrMsg::SetReport(const ReportHeader* report)
{
    m_report = report;
    actUpdate();
}

void TFormErrMsg::actUpdate()
{
    const bool enabled = m_report != nullptr;
    for (QAction* action : {actDelete, actSkip, actRetry})
        action->setEnabled(enabled);
    if (enabled && !btnDelete->hasFocus())
        btnDelete->setFocus();
}

ErrorChoice TFormErrMsg::Execute()
{
    m_choice = ErrorChoice::Cancel;
    exec();
    return m_choice;
}

void TFormErrMsg::finish(ErrorChoice choice)
{
    m_choice = choice;
    done(choice == ErrorChoice::Cancel ? QDialog::Rejected : QDialog::Accepted);
}

void TFormErrMsg::reject()
{
    m_choice = ErrorChoice::Cancel;
    QDialog::reject();
}

void TFormErrMsg::actDeleteExecute()
{
    DeleteResult result = DeleteResult::Failed;
    {
        HourglassCursor wait;
        result = deleteReportEx(m_report, events::FromErrorDialog);
    }
    switch (result) {
    case DeleteResult::Deleted:
        finish(ErrorChoice::Deleted);
        return;
    case DeleteResult::Declined:
        // The user changed their mind: nothing failed, and printing stays paused.
        finish(ErrorChoice::Cancel);
        return;
    case DeleteResult::Failed:
        MessageDlg(QStringLiteral("Soubor se nepodařilo odstranit."), MsgKind::Error,
                   {MsgButton::Ok}, QStringLiteral("Chyba"), this);
        finish(ErrorChoice::Cancel);
        return;
    }
}

void TFormErrMsg::actSkipExecute()
{
    finish(ErrorChoice::Skip);
}

void TFormErrMsg::actRetryExecute()
{
    finish(ErrorChoice::Retry);
}

void TFormErrMsg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterOnScreen(this);
}

void BroadcastRunState(bool run, const TDataModule1& controller)
{
    if (run && controller.Settings.printByOne)
        return;
    postToTopLevelWidgets(run);
}

void ShowPrintError(const ReportHeader& report, ErrorChoice& choice, TDataModule1& controller)
{
    controller.Timer1.stop();
    BroadcastRunState(false, controller);
    {
        TFormErrMsg dialog(controller.Settings);
        dialog.SetMessage(controller.WorkerError());
        dialog.SetReport(&report);
        choice = dialog.Execute();
    }
    switch (choice) {
    case ErrorChoice::Retry: {
        // The print worker waits in this call, yet the queue is shared with it: take the lock.
        QMutexLocker lock(&controller.QueueLock);
        for (ReprintEntry& entry : controller.ReprintQueue) {
            if (entry.Path.compare(report.fileName, Qt::CaseInsensitive) == 0) {
                entry.Taken = false;
                break;
            }
        }
        lock.unlock();
        BroadcastRunState(true, controller);
        break;
    }
    case ErrorChoice::Skip:
        controller.SkipList.append(skipEntryFor(report));
        BroadcastRunState(true, controller);
        break;
    case ErrorChoice::Deleted:
        BroadcastRunState(true, controller);
        break;
    case ErrorChoice::Cancel:
    case ErrorChoice::None:
        break;
    }
    controller.SetWorkerError(QString());
    if (!controller.Closing)
        controller.Timer1.start();
}

void ShowPrintError(TPrnObj& job, TDataModule1& controller)
{
    ShowPrintError(job.Lst, job.Choice, controller);
    // A report that was printed and could not be disposed of is not printed again while it is
    // unchanged, whatever the answer.
    if (job.Printed && job.Choice != ErrorChoice::Skip && job.Choice != ErrorChoice::Deleted)
        controller.SkipList.append(skipEntryFor(job.Lst));
}

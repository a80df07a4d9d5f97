#include "gui/print/PrintErrorDialog.h"

#include "core/jobs/JobController.h"
#include "core/platform/FileInfo.h"
#include "gui/common/Events.h"
#include "gui/common/FormLook.h"
#include "gui/common/MessageDlg.h"
#include "gui/common/ReportActions.h"

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

PrintErrorDialog::PrintErrorDialog(const AppSettings& settings, QWidget* parent)
    : IconTextDialog({QStringLiteral("FormErrMsg"), QStringLiteral("Chyba"),
                      QSize(kClientWidth, kClientHeight), kTextHeight, 120,
                      QStyle::SP_MessageBoxCritical},
                     parent)
{
    m_ui.deleteAction = makeAction(this, QStringLiteral("&Smazat"),
                                   QStringLiteral("Smazáním se chybný soubor přesune do koše."));
    m_ui.skipAction = makeAction(
        this, QStringLiteral("&Přeskočit"),
        QStringLiteral("Chybný soubor se bude ignorovat až do příštího spuštění aplikace."));
    m_ui.retryAction =
        makeAction(this, QStringLiteral("&Opakovat"),
                   QStringLiteral("Chybný soubor bude znova zařazen do tiskové fronty."));
    m_ui.deleteAction->setObjectName(QStringLiteral("deleteAction"));
    m_ui.skipAction->setObjectName(QStringLiteral("skipAction"));
    m_ui.retryAction->setObjectName(QStringLiteral("retryAction"));
    connect(m_ui.deleteAction, &QAction::triggered, this, &PrintErrorDialog::onDelete);
    connect(m_ui.skipAction, &QAction::triggered, this, &PrintErrorDialog::onSkip);
    connect(m_ui.retryAction, &QAction::triggered, this, &PrintErrorDialog::onRetry);

    // Created in tab order.
    m_ui.deleteButton = addButton(QStringLiteral("deleteButton"), 128);
    m_ui.skipButton = addButton(QStringLiteral("skipButton"), 216);
    m_ui.retryButton = addButton(QStringLiteral("retryButton"), 304);
    bindButton(m_ui.deleteButton, m_ui.deleteAction);
    bindButton(m_ui.skipButton, m_ui.skipAction);
    bindButton(m_ui.retryButton, m_ui.retryAction);

    setMessage(QString());
    createWidgets(settings);
    updateActions();
    m_ui.deleteButton->setFocus();
}

void PrintErrorDialog::createWidgets(const AppSettings& settings)
{
    applyFormLook(this, settings);
}

void PrintErrorDialog::setMessage(const QString& text)
{
    setText(msgDisplayText(text));
}

void PrintErrorDialog::setReport(const ReportHeader* report)
{
    m_report = report;
    updateActions();
}

void PrintErrorDialog::updateActions()
{
    const bool enabled = m_report != nullptr;
    for (QAction* action : {m_ui.deleteAction, m_ui.skipAction, m_ui.retryAction})
        action->setEnabled(enabled);
    if (enabled && !m_ui.deleteButton->hasFocus())
        m_ui.deleteButton->setFocus();
}

ErrorChoice PrintErrorDialog::choose()
{
    m_choice = ErrorChoice::Cancel;
    exec();
    return m_choice;
}

void PrintErrorDialog::finish(ErrorChoice choice)
{
    m_choice = choice;
    done(choice == ErrorChoice::Cancel ? QDialog::Rejected : QDialog::Accepted);
}

void PrintErrorDialog::reject()
{
    m_choice = ErrorChoice::Cancel;
    QDialog::reject();
}

void PrintErrorDialog::onDelete()
{
    DeleteResult result = DeleteResult::Failed;
    {
        HourglassCursor wait;
        result = deleteReport(m_report, events::FromErrorDialog);
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
        messageDlg(QStringLiteral("Soubor se nepodařilo odstranit."), MsgKind::Error,
                   {MsgButton::Ok}, QStringLiteral("Chyba"), this);
        finish(ErrorChoice::Cancel);
        return;
    }
}

void PrintErrorDialog::onSkip()
{
    finish(ErrorChoice::Skip);
}

void PrintErrorDialog::onRetry()
{
    finish(ErrorChoice::Retry);
}

void PrintErrorDialog::showEvent(QShowEvent* event)
{
    IconTextDialog::showEvent(event);
    centerOnScreen(this);
}

void broadcastRunState(bool run, const JobController& controller)
{
    if (run && controller.settings().printByOne)
        return;
    postToTopLevelWidgets(run);
}

void runPrintErrorDialog(const ReportHeader& report, ErrorChoice& choice, JobController& controller)
{
    controller.tickTimer().stop();
    broadcastRunState(false, controller);
    {
        PrintErrorDialog dialog(controller.settings());
        dialog.setMessage(controller.workerError());
        dialog.setReport(&report);
        choice = dialog.choose();
    }
    switch (choice) {
    case ErrorChoice::Retry: {
        // The print worker waits in this call, yet the queue is shared with it: take the lock.
        QMutexLocker lock(&controller.queueLock());
        for (ReprintEntry& entry : controller.reprintQueue()) {
            if (entry.path.compare(report.fileName, Qt::CaseInsensitive) == 0) {
                entry.taken = false;
                break;
            }
        }
        lock.unlock();
        broadcastRunState(true, controller);
        break;
    }
    case ErrorChoice::Skip:
        controller.skipList().append(skipEntryFor(report));
        broadcastRunState(true, controller);
        break;
    case ErrorChoice::Deleted:
        broadcastRunState(true, controller);
        break;
    case ErrorChoice::Cancel:
    case ErrorChoice::None:
        break;
    }
    controller.setWorkerError(QString());
    if (!controller.isClosing())
        controller.tickTimer().start();
}

void runPrintErrorDialog(PrintJob& job, JobController& controller)
{
    ErrorChoice choice = job.choice();
    runPrintErrorDialog(job.header(), choice, controller);
    job.setChoice(choice);
    // A report that was printed and could not be disposed of is not printed again while it is
    // unchanged, whatever the answer.
    if (job.printed() && job.choice() != ErrorChoice::Skip && job.choice() != ErrorChoice::Deleted)
        controller.skipList().append(skipEntryFor(job.header()));
}

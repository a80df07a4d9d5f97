#include "gui/print/UiJobHost.h"

#include "core/config/AppSettings.h"
#include "core/jobs/JobController.h"
#include "core/log/EventLog.h"
#include "gui/print/PrintErrorDialog.h"

#include <QThread>

UiJobHost::UiJobHost(JobController& controller, QObject* parent)
    : QObject(parent), m_controller(controller)
{
    m_refreshPause.setSingleShot(true);
    m_refreshPause.setInterval(kRefreshIntervalMs);
    connect(&m_refreshPause, &QTimer::timeout, this, [this] {
        if (std::exchange(m_refreshDue, false))
            showStatus();
    });
}

void UiJobHost::runOnUiThread(const std::function<void()>& work)
{
    // While the program ends, the user-interface thread answers the worker without doing its
    // work (the windows are going or gone): the worker goes on to see its stop request.
    if (QThread::currentThread() == thread()) {
        if (!m_controller.isClosing())
            work();
        return;
    }
    if (m_controller.isClosing())
        return;
    // Closing may be marked after the call is queued and before it is served: it is checked
    // again where the work would run. The program serves queued calls until its worker has
    // ended, so this never waits for a thread that has stopped listening.
    QMetaObject::invokeMethod(
        this,
        [this, &work] {
            if (!m_controller.isClosing())
                work();
        },
        Qt::BlockingQueuedConnection);
}

void UiJobHost::logEvent(const QString& title, const QString& description)
{
    // The event log lives on the user-interface thread.
    QMetaObject::invokeMethod(
        this, [title, description] { appLog().addEntry(title, description); },
        Qt::QueuedConnection);
}

void UiJobHost::jobSubmitted(const SubmittedJob& job)
{
    if (m_follow)
        m_follow(job);
}

int UiJobHost::askOrientation(const ReportHeader& header)
{
    int answer = OrientByWidth;
    runOnUiThread([&] {
        if (m_askOrientationDialog)
            answer = m_askOrientationDialog(header);
    });
    return answer;
}

void UiJobHost::showPrintError(PrintJob& job)
{
    runOnUiThread([&] { runPrintErrorDialog(job, m_controller); });
}

void UiJobHost::refreshStatus()
{
    // One request on its way at a time: a job that refreshes after every line posts a handful of
    // events a second, not one per line.
    if (m_refreshPosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_refreshPosted = false;
            showStatus();
        },
        Qt::QueuedConnection);
}

void UiJobHost::showStatus()
{
    if (m_controller.isClosing() || !m_refreshStatusView)
        return;
    // The last state is always shown: a request within the pause is served when it ends.
    if (m_refreshPause.isActive()) {
        m_refreshDue = true;
        return;
    }
    m_refreshStatusView();
    m_refreshPause.start();
}

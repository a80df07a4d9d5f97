#include "print/UiJobHost.h"

#include "config/AppSettings.h"
#include "core/TxLog.h"
#include "core/UnitDM1.h"
#include "print/UnitErrMsg.h"

#include <QThread>

UiJobHost::UiJobHost(TDataModule1& controller, QObject* parent)
    : QObject(parent), m_controller(controller)
{}

void UiJobHost::runOnUiThread(const std::function<void()>& work)
{
    // While the program ends, the user-interface thread answers the worker without doing its
    // work (the windows are going or gone): the worker goes on to see its stop request.
    if (QThread::currentThread() == thread()) {
        if (!m_controller.Closing)
            work();
        return;
    }
    if (m_controller.Closing)
        return;
    // Closing may be marked after the call is queued and before it is served: it is checked
    // again where the work would run. The program serves queued calls until its worker has
    // ended, so this never waits for a thread that has stopped listening.
    QMetaObject::invokeMethod(
        this,
        [this, &work] {
            if (!m_controller.Closing)
                work();
        },
        Qt::BlockingQueuedConnection);
}

void UiJobHost::logEvent(const QString& title, const QString& description)
{
    // The event log lives on the user-interface thread.
    QMetaObject::invokeMethod(
        this, [title, description] { AppLog().AddEntry(title, description); },
        Qt::QueuedConnection);
}

int UiJobHost::askOrientation(const TLstObj& header)
{
    int answer = OrientByWidth;
    runOnUiThread([&] {
        if (askOrientationDialog)
            answer = askOrientationDialog(header);
    });
    return answer;
}

void UiJobHost::showPrintError(TPrnObj& job)
{
    runOnUiThread([&] { ShowPrintError(job, m_controller); });
}

void UiJobHost::refreshStatus()
{
    if (refreshStatusView)
        refreshStatusView();
}

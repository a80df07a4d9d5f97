#include "print/UiJobHost.h"

#include "config/AppSettings.h"
#include "core/UnitDM1.h"
#include "print/UnitErrMsg.h"

#include <QThread>

UiJobHost::UiJobHost(TDataModule1& controller, QObject* parent)
    : QObject(parent), m_controller(controller)
{}

void UiJobHost::runOnUiThread(const std::function<void()>& work)
{
    if (QThread::currentThread() == thread()) {
        work();
        return;
    }
    // While the program ends, the user-interface thread no longer serves the worker: the worker
    // goes on to see its stop request instead of waiting for a thread that waits for it.
    if (m_controller.Closing)
        return;
    QMetaObject::invokeMethod(this, work, Qt::BlockingQueuedConnection);
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

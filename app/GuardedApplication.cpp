#include "app/GuardedApplication.h"

#include "app/CrashReport.h"
#include "app/CrashReportDialog.h"

#include <QThread>

#include <cstdio>
#include <cxxabi.h>
#include <exception>

GuardedApplication::GuardedApplication(int& argc, char** argv) : QApplication(argc, argv)
{}

bool GuardedApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (abi::__forced_unwind&) {
        throw; // a thread being cancelled must unwind to its end
    } catch (const std::exception& e) {
        if (QThread::currentThread() != thread())
            throw;
        reportFailure(QString::fromUtf8(e.what()));
    } catch (...) {
        if (QThread::currentThread() != thread())
            throw;
        reportFailure(QStringLiteral("výjimka neznámého typu"));
    }
    return false;
}

void GuardedApplication::reportFailure(const QString& what)
{
    m_failed = true;
    const QString report = composeCrashReport(what, QStringLiteral("uživatelské rozhraní"),
                                              CrashReportPaths::defaults());
    std::fputs(report.toLocal8Bit().constData(), stderr);
    // Errors while the window is open are on stderr only; the first window ends the program.
    if (m_showing)
        return;
    m_showing = true;
    showCrashReport(CrashReportDialog::Occasion::ErrorNow, report);
    m_showing = false;
    if (m_failureAction)
        m_failureAction();
    else
        QCoreApplication::exit(kFailureExitCode);
}

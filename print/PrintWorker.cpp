#include "print/PrintWorker.h"

#include "core/config/AppSettings.h"
#include "core/jobs/JobState.h"
#include "core/platform/ThreadPriority.h"
#include "core/report/OrientationMemory.h"
#include "print/JobHost.h"
#include "print/PdfDevice.h"
#include "print/PrintJob.h"
#include "print/PrintJournal.h"

#include <exception>

namespace {
// How much a print worker without highPriority yields to the windows (niceness steps).
constexpr int kLowPrioritySteps = 5;
} // namespace

PrintWorker::PrintWorker(const QString& fileName, const AppSettings& settings,
                         PrinterCatalog& printers, JobState& state, JobHost& host)
    : m_fileName(fileName), m_settings(settings), m_printers(printers), m_state(state), m_host(host)
{
    setObjectName(QStringLiteral("printWorker"));
}

void PrintWorker::run()
{
    // Printing is marked and cleared by the controller on the user-interface thread.
    // With highPriority the job competes with the windows on equal terms; without, it yields.
    platform::setThreadNiceness(m_settings.highPriority ? 0 : kLowPrioritySteps);
    {
        CupsQueueDevice printer(&m_printers);
        printer.setStopFlag(&m_state.stopFlag());
        const PrintJournal journal(PrintJournal::defaultPath());
        auto job = std::make_unique<PrintJob>(
            m_fileName,
            PrintContext{m_settings, orientationMemory(), m_state, printer, m_host, &journal});
        try {
            job->run();
        } catch (const std::exception& e) {
            m_state.setWorkerError(QString::fromUtf8(e.what()));
        } catch (...) {
            m_state.setWorkerError(QStringLiteral("Neočekávaná chyba tisku"));
        }
        job.reset(); // the finishing step: error dialog, queue, disposal
    }
}

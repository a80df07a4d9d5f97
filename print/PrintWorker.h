#pragma once

#include <QThread>

struct AppSettings;
class JobHost;
class JobState;
class PrinterCatalog;

// The print worker: prints one report file on a thread of its own, so that the windows stay
// responsive meanwhile. Printing is set for the whole of its run; every failure of the job ends
// up in the state's workerError and in the print error dialog.
class PrintWorker : public QThread
{
    Q_OBJECT
public:
    PrintWorker(const QString& fileName, const AppSettings& settings, PrinterCatalog& printers,
                JobState& state, JobHost& host);

protected:
    void run() override; // Execute

private:
    QString m_fileName;
    const AppSettings& m_settings;
    PrinterCatalog& m_printers;
    JobState& m_state;
    JobHost& m_host;
};

#pragma once

#include <QThread>

class JobHost;
class JobController;

// The print worker: prints one report file on a thread of its own, so that the windows stay
// responsive meanwhile. Printing is set for the whole of its run; every failure of the job ends
// up in the controller's workerError and in the print error dialog.
class PrintWorker : public QThread
{
    Q_OBJECT
public:
    PrintWorker(const QString& fileName, JobController& controller, JobHost& host);

protected:
    void run() override; // Execute

private:
    QString m_fileName;
    JobController& m_controller;
    JobHost& m_host;
};

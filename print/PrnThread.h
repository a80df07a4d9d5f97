#pragma once

#include <QThread>

class JobHost;
class TDataModule1;

// The print worker: prints one report file on a thread of its own, so that the windows stay
// responsive meanwhile. Printing is set for the whole of its run; every failure of the job ends
// up in the controller's WorkerError and in the print error dialog.
class TPrnThread : public QThread
{
    Q_OBJECT
public:
    TPrnThread(const QString& fileName, TDataModule1& controller, JobHost& host);

protected:
    void run() override; // Execute

private:
    QString m_fileName;
    TDataModule1& m_controller;
    JobHost& m_host;
};

#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// What became of a report after the print server took its document, and what its printer is
// doing: plain records filled from the server's answers (print/CupsClient), and the Czech texts
// that tell a clerk about them.

// A document the print server accepted, as the program follows it to the paper.
struct SubmittedJob
{
    int jobId = 0;
    QString queue;
    QString fileName; // the report's file name, as shown
    QString title;    // the report's title
    QString archived; // the archived report, to print again; empty when it was deleted
};

// What the print server says about a job.
struct JobStatus
{
    enum class State
    {
        Pending,
        Held,
        Processing,
        Stopped, // waits for its printer, which is stopped
        Canceled,
        Aborted,
        Completed,
        Gone,     // the server does not know the job (any more)
        Forgotten // ended, but the server keeps no history of ended jobs: how is unknown
    };
    State state = State::Pending;
    QStringList reasons;    // job-state-reasons, as keywords
    QString printerMessage; // what the printer last said while the job was on it
};

// The job will not change by itself any more: it is completed, cancelled, aborted, unknown to the
// server, or held (it waits for somebody to release it).
bool jobEnded(const JobStatus& status);
// It ended without the whole document printed (also: completed, but with errors).
bool jobFailed(const JobStatus& status);
// Why a failed job did not print, as a clause in Czech ("tiskový server úlohu přerušil (…)").
QString jobFailureReason(const JobStatus& status);
// The event log's and the notification's line about a job that did not print.
QString jobFailureText(const SubmittedJob& job, const QString& reason);
// What the job is doing now, in a few Czech words ("čeká ve frontě", "tiskne se", …).
QString jobStateText(const JobStatus& status);

// What the print server says about a printer (a queue).
struct PrinterStatus
{
    enum class State
    {
        Idle,
        Processing,
        Stopped
    };
    bool answered = true; // false: the print server did not answer (nothing else is known)
    bool found = true;    // false: the server has no such queue
    State state = State::Idle;
    bool accepting = true;
    QStringList reasons; // printer-state-reasons, as keywords
    QString message;     // printer-state-message

    bool operator==(const PrinterStatus&) const = default;
};

// What is wrong with the printer, one Czech sentence a problem; empty when nothing is.
QStringList printerProblems(const QString& queue, const PrinterStatus& status);
// The first problem in a word or two, for a narrow status panel ("zastavena", "došel papír");
// empty when nothing is wrong.
QString printerProblemWord(const PrinterStatus& status);
// "Na tiskárně X čekají 3 sestavy." for reports handed over and not yet printed; empty for none.
QString waitingReportsText(const QString& queue, int count);

Q_DECLARE_METATYPE(SubmittedJob)
Q_DECLARE_METATYPE(JobStatus)
Q_DECLARE_METATYPE(PrinterStatus)

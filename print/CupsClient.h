#pragma once

#include <QString>

// The few requests the program sends to the CUPS scheduler itself, each on a connection of its
// own that gives up after a timeout, so that a scheduler that is down, hung or restarting never
// holds a print job (or the program's shutdown) for long. The scheduler is the one the client
// library is pointed at (CUPS_SERVER, client.conf), as for every other CUPS client.
namespace cupsclient {

// "The print server does not answer": the text for a job that could not reach the scheduler.
QString noAnswerText();

// True when the scheduler accepts a connection within a few seconds.
bool schedulerAnswers();

// Sends `file` (a PDF document) to `queue` in one Print-Job request: the job exists at the
// scheduler only once it holds the whole document. The job id, or 0 with `error` set.
int printFile(const QString& queue, const QString& file, const QString& title, QString& error);

// What became of a job the program handed to the scheduler.
enum class JobFate
{
    Kept,    // pending, held, processing, stopped or completed: the document was accepted
    Gone,    // cancelled, aborted, or unknown to the scheduler
    NoAnswer // the scheduler cannot be asked now
};
JobFate jobFate(int jobId);

// The newest job of this user on `queue` named `title` that the scheduler created at or after
// `since` (seconds since the epoch): its fate, and its id in `jobId` (0 when there is none).
JobFate findJob(const QString& queue, const QString& title, qint64 since, int& jobId);

} // namespace cupsclient

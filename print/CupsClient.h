#pragma once

#include "core/jobs/QueueStatus.h"

#include <QHash>
#include <QMarginsF>
#include <QPageSize>
#include <QString>
#include <QStringList>

#include <atomic>

// The few requests the program sends to the CUPS scheduler itself, each on a connection of its
// own that gives up after a timeout, so that a scheduler that is down, hung or restarting never
// holds a print job (or the program's shutdown) for long. The scheduler is the one the client
// library is pointed at (CUPS_SERVER, client.conf), as for every other CUPS client.
//
// A request given a stop flag is a print job's: it gives up as soon as the flag turns true, and
// it waits up to 15 seconds for a scheduler that cannot be reached or that drops the connection
// without answering (one that restarts), trying again on a new connection. A document already on
// its way is not sent again. Requests without a stop flag (the windows') never wait for a
// scheduler that is away.
namespace cupsclient {

// The failure of a request to print, as a clerk reads it: the usual IPP refusals in Czech, the
// server's own text only as a detail of the rare ones.
QString refusalText(int ippStatus, const QString& queue);

// What a queue prints on, as the scheduler describes it.
struct QueueSetup
{
    QString name;        // the queue's own spelling
    QPageSize paper;     // the queue's default paper, or the one asked for
    QMarginsF marginsMm; // the paper's unprintable border, the sheet upright
    int dpi = 600;       // the queue's default resolution; 600 where it names none
};

enum class Answer
{
    Yes,
    No,      // the scheduler has no such thing
    NoAnswer // the scheduler does not answer (or the request was stopped)
};

// The setup of `queue` (letter case ignored) on `paper`, or on the queue's default paper when
// `paper` is not valid. A request goes on while `stop` (when given) stays false.
Answer queueSetup(const QString& queue, const QPageSize& paper, QueueSetup& setup,
                  const std::atomic<bool>* stop = nullptr);
// The installed queues in the scheduler's order; No when there are none.
Answer queueNames(QStringList& names);
// The scheduler's default queue in `name`; No when it has none.
Answer defaultQueue(QString& name, const std::atomic<bool>* stop = nullptr);

// How a document is to be printed: on this paper, upright or turned, never scaled.
struct JobLayout
{
    QPageSize paper;
    bool landscape = false;
};

// Sends `file` (a PDF document) to `queue` in one Print-Job request: the job exists at the
// scheduler only once it holds the whole document. The options pin the layout (media,
// orientation, one page a sheet, no scaling), so that the queue's own defaults neither turn nor
// shrink the page the program laid out. The job id, or 0 with `error` set.
int printFile(const QString& queue, const QString& file, const QString& title,
              const JobLayout& layout, QString& error, const std::atomic<bool>* stop = nullptr);

// What became of a job the program handed to the scheduler.
enum class JobFate
{
    Kept,    // pending, held, processing, stopped or completed: the document was accepted
    Gone,    // cancelled, aborted, or unknown to the scheduler
    NoAnswer // the scheduler cannot be asked now
};
JobFate jobFate(int jobId, const std::atomic<bool>* stop = nullptr);

// The newest job of this user on `queue` named `title` that the scheduler created at or after
// `since` (seconds since the epoch): its fate, and its id in `jobId` (0 when there is none).
JobFate findJob(const QString& queue, const QString& title, qint64 since, int& jobId,
                const std::atomic<bool>* stop = nullptr);

// What the scheduler says about the job now. No when it does not know the job: the status is
// then Gone, or Forgotten when the scheduler keeps no ended jobs of this user at all (it is set to
// keep no job history). The windows' rule for a scheduler that is away applies (no waiting).
Answer jobStatus(int jobId, JobStatus& status);
// The statuses of this user's jobs that have not ended, by job id: one question for all of them.
Answer activeJobs(QHash<int, JobStatus>& jobs);
// What the scheduler says about the queue now; No when it has no such queue.
Answer printerStatus(const QString& queue, PrinterStatus& status);

} // namespace cupsclient

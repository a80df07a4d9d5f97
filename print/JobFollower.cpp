#include "print/JobFollower.h"

#include "core/platform/TimeScale.h"
#include "print/CupsClient.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QTimer>

// The asking side of the follower, on its thread.
class JobPoller : public QObject
{
    Q_OBJECT
public:
    JobPoller()
    {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &JobPoller::poll);
    }

    void follow(const SubmittedJob& job)
    {
        m_jobs.insert(job.jobId, job);
        // Most failures come right after the hand-over: the first seconds are looked at closely.
        m_closely.setRemainingTime(kCloselyMs);
        askSoon();
    }
    void setPrinter(const QString& queue)
    {
        if (queue.compare(m_queue, Qt::CaseInsensitive) == 0)
            return;
        m_queue = queue;
        m_reported.reset();
        m_seen.reset();
        m_waiting = -1;
        askSoon();
    }
    void setIntervals(int busyMs, int idleMs)
    {
        m_busyMs = busyMs;
        m_idleMs = idleMs;
        askSoon();
    }
    void stop() { m_timer.stop(); }

signals:
    void jobEnded(const SubmittedJob& job, const JobStatus& status);
    void waitingChanged(const QString& queue, int count);
    void printerChanged(const QString& queue, const PrinterStatus& status);

private:
    void askSoon() { m_timer.start(0); }

    // How often the server is asked while a new state of the printer settles, and in the first
    // seconds after a document was handed over.
    static constexpr int kCloselyIntervalMs = 250;
    static constexpr int kCloselyMs = 10000;
    void poll();
    // False when the server did not answer.
    bool pollJobs();
    // True while a new state of the printer waits to be seen again.
    bool pollPrinter(bool serverAnswers);

    QTimer m_timer{this}; // a child: it moves to the thread with the poller
    QHash<int, SubmittedJob> m_jobs;
    QString m_queue;
    std::optional<QStringList> m_reported; // the printer's problems as last told
    std::optional<QStringList> m_seen;     // as seen at the last question
    int m_waiting = -1;
    QDeadlineTimer m_closely{0};
    int m_busyMs = scaledWaitMs(JobFollower::kBusyIntervalMs);
    int m_idleMs = scaledWaitMs(JobFollower::kIdleIntervalMs);
};

void JobPoller::poll()
{
    const bool answers = m_jobs.isEmpty() || pollJobs();
    int waiting = 0;
    for (const SubmittedJob& job : std::as_const(m_jobs))
        waiting += job.queue.compare(m_queue, Qt::CaseInsensitive) == 0;
    if (waiting != m_waiting) {
        m_waiting = waiting;
        emit waitingChanged(m_queue, waiting);
    }
    const bool settling = !m_queue.isEmpty() && pollPrinter(answers);
    // A new state of the printer is looked at again soon, to be told once it holds.
    const bool closely = settling || (!m_jobs.isEmpty() && !m_closely.hasExpired());
    m_timer.start(closely            ? std::min(m_busyMs, kCloselyIntervalMs)
                  : m_jobs.isEmpty() ? m_idleMs
                                     : m_busyMs);
}

bool JobPoller::pollJobs()
{
    QHash<int, JobStatus> active;
    if (cupsclient::activeJobs(active) != cupsclient::Answer::Yes)
        return false; // asked again next time: the server may be restarting
    const QList<int> ids = m_jobs.keys();
    for (const int id : ids) {
        JobStatus status = active.value(id, JobStatus{JobStatus::State::Gone, {}, {}});
        // A job no longer among the active ones has ended: how, its own record says.
        if (!active.contains(id) &&
            cupsclient::jobStatus(id, status) == cupsclient::Answer::NoAnswer)
            continue;
        if (!::jobEnded(status))
            continue;
        emit jobEnded(m_jobs.take(id), status);
    }
    return true;
}

bool JobPoller::pollPrinter(bool serverAnswers)
{
    // A server that let a question run out of time is not asked a second one in the same turn.
    PrinterStatus status;
    status.answered = false;
    if (serverAnswers)
        cupsclient::printerStatus(m_queue, status);
    const QStringList problems = printerProblems(m_queue, status);
    // A server silent for a whole question's time is no passing state.
    const bool confirmed = m_seen == problems || !status.answered;
    m_seen = problems;
    if (m_reported == problems)
        return false;
    if (!confirmed)
        return true;
    m_reported = problems;
    emit printerChanged(m_queue, status);
    return false;
}

JobFollower::JobFollower(QObject* parent)
    : QObject(parent), m_thread(std::make_unique<QThread>()), m_poller(new JobPoller)
{
    qRegisterMetaType<SubmittedJob>();
    qRegisterMetaType<JobStatus>();
    qRegisterMetaType<PrinterStatus>();
    m_thread->setObjectName(QStringLiteral("jobFollower"));
    m_poller->moveToThread(m_thread.get());
    connect(m_thread.get(), &QThread::finished, m_poller, &QObject::deleteLater);
    connect(m_poller, &JobPoller::jobEnded, this, &JobFollower::jobEnded);
    connect(m_poller, &JobPoller::waitingChanged, this, &JobFollower::waitingChanged);
    connect(m_poller, &JobPoller::printerChanged, this, &JobFollower::printerChanged);
    m_thread->start();
}

JobFollower::~JobFollower()
{
    QMetaObject::invokeMethod(m_poller, &JobPoller::stop, Qt::QueuedConnection);
    m_thread->quit();
    // A question to a server that hangs takes a few seconds to give up: the thread is then let
    // go, to end with the process rather than hold the program's end.
    if (!m_thread->wait(1000))
        (void)m_thread.release();
}

void JobFollower::follow(const SubmittedJob& job)
{
    QMetaObject::invokeMethod(m_poller, [p = m_poller, job] { p->follow(job); });
}

void JobFollower::setPrinter(const QString& queue)
{
    QMetaObject::invokeMethod(m_poller, [p = m_poller, queue] { p->setPrinter(queue); });
}

void JobFollower::setIntervals(int busyMs, int idleMs)
{
    QMetaObject::invokeMethod(m_poller,
                              [p = m_poller, busyMs, idleMs] { p->setIntervals(busyMs, idleMs); });
}

#include "JobFollower.moc"

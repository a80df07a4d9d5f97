#pragma once

#include "core/jobs/QueueStatus.h"

#include <QObject>
#include <QThread>

#include <memory>

class JobPoller;

// Follows every document the program handed to the print server until the server says how it
// ended, and watches the printer that reports go to. The server is asked on a thread of its own,
// so that one that hangs never holds the windows: often while documents are outstanding, rarely
// while none are. The signals come on the thread that made the follower.
class JobFollower : public QObject
{
    Q_OBJECT
public:
    explicit JobFollower(QObject* parent = nullptr);
    // Ends the asking thread (waiting for a question under way at most a second).
    ~JobFollower() override;

    // From any thread.
    void follow(const SubmittedJob& job);
    void setPrinter(const QString& queue);
    // How often the server is asked while documents are outstanding, and while none are.
    void setIntervals(int busyMs, int idleMs);

    static constexpr int kBusyIntervalMs = 1000;
    static constexpr int kIdleIntervalMs = 15000;

signals:
    // A followed job ended: completed, or not (jobFailed tells).
    void jobEnded(const SubmittedJob& job, const JobStatus& status);
    // Reports handed to `queue` (the watched printer) that have not ended yet.
    void waitingChanged(const QString& queue, int count);
    // What is wrong with the watched printer changed (and was seen twice in a row, so that a
    // passing state does not alarm anybody): printerProblems(queue, status) tells what.
    void printerChanged(const QString& queue, const PrinterStatus& status);

private:
    std::unique_ptr<QThread> m_thread;
    JobPoller* m_poller; // lives on m_thread
};

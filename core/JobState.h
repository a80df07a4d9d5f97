#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

#include <atomic>

// A report queued to be printed again from the archive; taken while a job prints it.
struct ReprintEntry
{
    QString Path;
    bool Taken = false;
};

// What the controller and the print worker share: the run flags, the fields that describe the
// running job (shown by the main window), the worker's error text and the re-print queue.
//
// The worker writes the job fields and the window reads them, so they sit behind a lock of their
// own; the re-print queue is guarded by QueueLock.
class JobState
{
public:
    std::atomic<bool> StopRequest{false};
    std::atomic<bool> Printing{false};

    // Clears the title, page count and page number with the file name.
    void SetCurrentFile(const QString& fileName);
    void SetReportTitle(const QByteArray& title);
    void SetPageCount(int pages);
    void SetPageNumber(int page);
    // done lines of total, in per cent; 0 when total is 0.
    void SetProgress(int done, int total);

    QString CurrentFile() const;
    QByteArray ReportTitle() const;
    int PageCount() const;
    int PageNumber() const;
    int Progress() const;

    QString WorkerError() const;
    void SetWorkerError(const QString& text);
    // Returns the error text and empties it in one step, so that a text is shown once.
    QString TakeWorkerError();

    QMutex QueueLock;
    QList<ReprintEntry> ReprintQueue;
    // Removes the first entry with that path (letter case ignored) under QueueLock; true when
    // there was one.
    bool RemoveFromReprintQueue(const QString& path);
    // True when the path stands in the queue (letter case ignored).
    bool InReprintQueue(const QString& path);

private:
    mutable QMutex m_fieldsLock;
    QString m_currentFile;
    QByteArray m_reportTitle;
    int m_pageCount = 0;
    int m_pageNumber = 0;
    int m_progress = 0;
    QString m_workerError;
};

#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

#include <atomic>

// A report queued to be printed again from the archive; taken while a job prints it.
struct ReprintEntry
{
    QString path;
    bool taken = false;
};

// What the controller and the print worker share: the run flags, the fields that describe the
// running job (shown by the main window), the worker's error text and the re-print queue.
//
// The worker writes the job fields and the window reads them, so they sit behind a lock of their
// own; the re-print queue is guarded by queueLock.
class JobState
{
public:
    // The running job is to stop at its next line (and the next one is not to start).
    bool stopRequested() const { return m_stopRequest; }
    void requestStop(bool stop) { m_stopRequest = stop; }
    // The flag itself, for a printer that polls it while it waits for the print server.
    const std::atomic<bool>& stopFlag() const { return m_stopRequest; }
    // A job runs: from its start on the user-interface thread to its end there.
    bool isPrinting() const { return m_printing; }
    void setPrinting(bool printing) { m_printing = printing; }

    // Clears the title, page count and page number with the file name.
    void setCurrentFile(const QString& fileName);
    void setReportTitle(const QByteArray& title);
    void setPageCount(int pages);
    void setPageNumber(int page);
    // done lines of total, in per cent; 0 when total is 0.
    void setProgress(int done, int total);

    QString currentFile() const;
    QByteArray reportTitle() const;
    int pageCount() const;
    int pageNumber() const;
    int progress() const;

    QString workerError() const;
    void setWorkerError(const QString& text);
    // Returns the error text and empties it in one step, so that a text is shown once.
    QString takeWorkerError();

    // The re-print queue; read and change it only while holding queueLock().
    QMutex& queueLock() { return m_queueLock; }
    QList<ReprintEntry>& reprintQueue() { return m_reprintQueue; }
    // Removes the first entry with that path (letter case ignored) under queueLock; true when
    // there was one.
    bool removeFromReprintQueue(const QString& path);
    // True when the path stands in the queue (letter case ignored).
    bool inReprintQueue(const QString& path);

private:
    std::atomic<bool> m_stopRequest{false};
    std::atomic<bool> m_printing{false};
    QMutex m_queueLock;
    QList<ReprintEntry> m_reprintQueue;
    mutable QMutex m_fieldsLock;
    QString m_currentFile;
    QByteArray m_reportTitle;
    int m_pageCount = 0;
    int m_pageNumber = 0;
    int m_progress = 0;
    QString m_workerError;
};

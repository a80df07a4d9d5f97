#include "core/JobState.h"

#include <algorithm>

void JobState::SetCurrentFile(const QString& fileName)
{
    QMutexLocker lock(&m_fieldsLock);
    m_currentFile = fileName;
    m_reportTitle.clear();
    m_pageCount = 0;
    m_pageNumber = 0;
}

void JobState::SetReportTitle(const QByteArray& title)
{
    QMutexLocker lock(&m_fieldsLock);
    m_reportTitle = title;
}

void JobState::SetPageCount(int pages)
{
    QMutexLocker lock(&m_fieldsLock);
    m_pageCount = pages;
}

void JobState::SetPageNumber(int page)
{
    QMutexLocker lock(&m_fieldsLock);
    m_pageNumber = page;
}

void JobState::SetProgress(int done, int total)
{
    QMutexLocker lock(&m_fieldsLock);
    m_progress = total > 0 ? int(qint64(done) * 100 / total) : 0;
}

QString JobState::CurrentFile() const
{
    QMutexLocker lock(&m_fieldsLock);
    return m_currentFile;
}

QByteArray JobState::ReportTitle() const
{
    QMutexLocker lock(&m_fieldsLock);
    return m_reportTitle;
}

int JobState::PageCount() const
{
    QMutexLocker lock(&m_fieldsLock);
    return m_pageCount;
}

int JobState::PageNumber() const
{
    QMutexLocker lock(&m_fieldsLock);
    return m_pageNumber;
}

int JobState::Progress() const
{
    QMutexLocker lock(&m_fieldsLock);
    return m_progress;
}

QString JobState::WorkerError() const
{
    QMutexLocker lock(&m_fieldsLock);
    return m_workerError;
}

void JobState::SetWorkerError(const QString& text)
{
    QMutexLocker lock(&m_fieldsLock);
    m_workerError = text;
}

QString JobState::TakeWorkerError()
{
    QMutexLocker lock(&m_fieldsLock);
    return std::exchange(m_workerError, QString());
}

bool JobState::RemoveFromReprintQueue(const QString& path)
{
    QMutexLocker lock(&QueueLock);
    for (qsizetype i = 0; i < ReprintQueue.size(); ++i) {
        if (ReprintQueue.at(i).Path.compare(path, Qt::CaseInsensitive) == 0) {
            ReprintQueue.removeAt(i);
            return true;
        }
    }
    return false;
}

bool JobState::InReprintQueue(const QString& path)
{
    QMutexLocker lock(&QueueLock);
    return std::any_of(ReprintQueue.cbegin(), ReprintQueue.cend(), [&path](const ReprintEntry& e) {
        return e.Path.compare(path, Qt::CaseInsensitive) == 0;
    });
}

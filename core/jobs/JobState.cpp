#include "core/jobs/JobState.h"

#include <algorithm>

void JobState::setCurrentFile(const QString& fileName)
{
    QMutexLocker lock(&m_fieldsLock);
    m_currentFile = fileName;
    m_reportTitle.clear();
    m_pageCount = 0;
    m_pageNumber = 0;
}

void JobState::setReportTitle(const QByteArray& title)
{
    QMutexLocker lock(&m_fieldsLock);
    m_reportTitle = title;
}

void JobState::setPageCount(int pages)
{
    QMutexLocker lock(&m_fieldsLock);
    m_pageCount = pages;
}

void JobState::setPageNumber(int page)
{
    QMutexLocker lock(&m_fieldsLock);
    m_pageNumber = page;
}

void JobState::setProgress(int done, int total)
{
    QMutexLocker lock(&m_fieldsLock);
    m_progress = total > 0 ? int(qint64(done) * 100 / total) : 0;
}

QString JobState::currentFile() const
{
    QMutexLocker lock(&m_fieldsLock);
    return m_currentFile;
}

QByteArray JobState::reportTitle() const
{
    QMutexLocker lock(&m_fieldsLock);
    return m_reportTitle;
}

int JobState::pageCount() const
{
    QMutexLocker lock(&m_fieldsLock);
    return m_pageCount;
}

int JobState::pageNumber() const
{
    QMutexLocker lock(&m_fieldsLock);
    return m_pageNumber;
}

int JobState::progress() const
{
    QMutexLocker lock(&m_fieldsLock);
    return m_progress;
}

QString JobState::workerError() const
{
    QMutexLocker lock(&m_fieldsLock);
    return m_workerError;
}

void JobState::setWorkerError(const QString& text)
{
    QMutexLocker lock(&m_fieldsLock);
    m_workerError = text;
}

QString JobState::takeWorkerError()
{
    QMutexLocker lock(&m_fieldsLock);
    return std::exchange(m_workerError, QString());
}

bool JobState::removeFromReprintQueue(const QString& path)
{
    QMutexLocker lock(&m_queueLock);
    for (qsizetype i = 0; i < m_reprintQueue.size(); ++i) {
        if (m_reprintQueue.at(i).path.compare(path, Qt::CaseInsensitive) == 0) {
            m_reprintQueue.removeAt(i);
            return true;
        }
    }
    return false;
}

bool JobState::inReprintQueue(const QString& path)
{
    QMutexLocker lock(&m_queueLock);
    return std::any_of(
        m_reprintQueue.cbegin(), m_reprintQueue.cend(),
        [&path](const ReprintEntry& e) { return e.path.compare(path, Qt::CaseInsensitive) == 0; });
}

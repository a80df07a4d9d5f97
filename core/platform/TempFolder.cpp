#include "core/platform/TempFolder.h"

#include "core/platform/FileName.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

const QString kPrefix = QStringLiteral("tarnyx-print-");

// A lock file this young may belong to a folder whose owner is between making the file and
// locking it.
constexpr qint64 kLockSettleSeconds = 60;

bool processGone(pid_t pid)
{
    // Only a process that is gone for certain: EPERM means it runs under another user.
    return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

TempFolder::TempFolder(const QString& tag)
    : m_dir(QDir::tempPath() + u'/' + kPrefix + QString::number(getpid()) +
            (tag.isEmpty() ? QString() : u'-' + tag) + QStringLiteral("-XXXXXX"))
{
    if (!m_dir.isValid())
        return;
    m_lock = std::make_unique<DirectoryLock>(m_dir.path());
    m_lock->tryLock(); // where no lock can be made, the process id alone tells
}

void TempFolder::remove()
{
    m_lock.reset();
    m_dir.remove();
}

int TempFolder::removeLeftovers(const QString& tempDir)
{
    static const QRegularExpression name(u'^' + kPrefix + QStringLiteral("([0-9]{1,9})-"));
    int removed = 0;
    const QFileInfoList folders =
        QDir(tempDir).entryInfoList({kPrefix + u'*'}, QDir::Dirs | QDir::Hidden);
    for (const QFileInfo& folder : folders) {
        const QRegularExpressionMatch m = name.match(folder.fileName());
        if (!m.hasMatch() || folder.isSymLink() || folder.ownerId() != getuid())
            continue;
        const QString path = folder.absoluteFilePath();
        const pid_t pid = pid_t(m.captured(1).toLong());
        bool leftOver = processGone(pid);
        struct stat lockFile;
        if (!leftOver &&
            ::lstat(encodeFileName(DirectoryLock::lockFilePath(path)).constData(), &lockFile) ==
                0 &&
            QDateTime::currentSecsSinceEpoch() - lockFile.st_mtime > kLockSettleSeconds) {
            // The process id is in use, by this copy or by another process that got the id of a
            // killed copy: the lock alone tells whether the folder's owner still runs. A lock
            // taken within this process conflicts too, as each open file holds its own.
            DirectoryLock probe(path);
            leftOver = probe.tryLock() == DirectoryLock::State::Held;
        }
        if (leftOver && QDir(path).removeRecursively())
            ++removed;
    }
    return removed;
}

} // namespace platform

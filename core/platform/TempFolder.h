#pragma once

#include "core/platform/DirectoryLock.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace platform {

// A folder of this process for its print files, made in the temporary directory under the name
// "tarnyx-print-PID-[TAG-]XXXXXX" and locked (its ".tarnyx.lock") for as long as the object lives.
// A copy of the program that is killed leaves its folder behind; the next start removes it,
// telling it from the folders of copies still running by the lock and the process id.
class TempFolder
{
public:
    explicit TempFolder(const QString& tag = {});
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    // Removes the folder with its files now.
    void remove();

    // Removes the folders in `tempDir` that copies of this user no longer running left behind:
    // those whose lock nobody holds, and those without a lock file whose process is gone.
    // Returns how many were removed.
    static int removeLeftovers(const QString& tempDir);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<DirectoryLock> m_lock; // given back before the folder goes
};

} // namespace platform

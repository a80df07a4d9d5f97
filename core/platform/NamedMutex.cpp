#include "core/platform/NamedMutex.h"

#include "core/platform/OwnFile.h"

#include <sys/file.h>
#include <unistd.h>

namespace platform {

QString runtimeDirectory()
{
    return privateRuntimeDirectory();
}

QString NamedMutex::pathFor(const QString& name)
{
    const QString dir = runtimeDirectory();
    return dir.isEmpty() ? QString() : dir + u'/' + name + QStringLiteral(".lock");
}

NamedMutex::NamedMutex(const QString& name)
{
    const QString path = pathFor(name);
    if (!path.isEmpty())
        m_fd = lockOwnFile(path, LOCK_SH);
}

NamedMutex::~NamedMutex()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

FileLockGuard::FileLockGuard(const QString& path) : m_fd(lockOwnFile(path, LOCK_EX))
{}

FileLockGuard::~FileLockGuard()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace platform

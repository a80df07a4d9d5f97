#include "core/platform/ThreadPriority.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

id_t currentThreadId()
{
    return id_t(::syscall(SYS_gettid));
}

} // namespace

bool setThreadNiceness(int steps)
{
    errno = 0;
    const int base = ::getpriority(PRIO_PROCESS, id_t(::getpid()));
    if (base == -1 && errno != 0)
        return false;
    return ::setpriority(PRIO_PROCESS, currentThreadId(), std::min(19, base + steps)) == 0;
}

int threadNiceness()
{
    return ::getpriority(PRIO_PROCESS, currentThreadId());
}

} // namespace platform

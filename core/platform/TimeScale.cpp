#include "core/platform/TimeScale.h"

#include <QtGlobal>

#include <algorithm>

int scaledWaitMs(int ms)
{
    bool ok = false;
    const int percent = qEnvironmentVariableIntValue("TARNYX_TEST_TIME_PERCENT", &ok);
    if (!ok || percent < 1 || percent >= 100)
        return ms;
    return std::max(1, int(qint64(ms) * percent / 100));
}

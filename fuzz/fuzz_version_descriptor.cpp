// Any bytes as the publisher's version descriptor: reading must never crash or hang, and the
// version it finds compares with itself as equal.
#include "core/update/VersionInfo.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const VersionDescriptor d =
        parseVersionDescriptor(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)),
                               QStringLiteral("Tarnyx"));
    if (!d.version.isEmpty() && compareVersions(d.version, d.version) != 0)
        __builtin_trap();
    (void)compareVersions(programVersion(), d.version);
    (void)majorMinor(d.version);
    (void)displayVersion(d.version);
    return 0;
}

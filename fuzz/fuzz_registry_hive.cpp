// Any bytes as the registry hive file: parsing must never crash or hang, and whatever parses
// must survive being written and read back unchanged.
#include "core/platform/RegistryHive.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    using platform::RegistryHive;
    const RegistryHive::ParseResult first =
        RegistryHive::parse(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!first.hive)
        return 0;
    const QByteArray written = first.hive->serialize();
    const RegistryHive::ParseResult second = RegistryHive::parse(written);
    if (!second.hive || second.hive->serialize() != written)
        __builtin_trap();
    return 0;
}

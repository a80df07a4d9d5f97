#include "platform/RegistryHive.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    platform::RegistryHive::parse(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}

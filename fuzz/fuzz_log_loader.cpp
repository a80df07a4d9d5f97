#include "core/TxLog.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    TJvLogFile::ParseLog(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}

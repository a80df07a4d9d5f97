// Feeds arbitrary bytes as a file name, as a directory listing or the command line hands them
// over: the text made of them gives back exactly those bytes, valid UTF-8 reads as Qt reads it,
// and the form shown to the user holds no escaped byte.
#include "core/platform/FileName.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString name = platform::decodeFileName(bytes);
    if (platform::encodeFileName(name) != bytes)
        __builtin_trap();
    const QString utf8 = QString::fromUtf8(bytes);
    if (platform::hasUndecodableBytes(name) == (utf8.toUtf8() == bytes))
        __builtin_trap();
    if (!platform::hasUndecodableBytes(name) && name != utf8)
        __builtin_trap();
    if (platform::hasUndecodableBytes(platform::displayFileName(name)))
        __builtin_trap();
    return 0;
}

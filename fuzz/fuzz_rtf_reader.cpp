// Any bytes as the description of a new version: the RTF reader must neither crash nor hang,
// must take rich text exactly when it starts with "{\rtf", and must keep its length limit and
// the document's own structure characters out of the text.
#include "core/update/RtfReader.h"

#include <QTextDocument>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView rtf(reinterpret_cast<const char*>(data), qsizetype(size));
    QTextDocument document;
    const bool ok = readRtf(rtf, document);
    if (ok && !looksLikeRtf(rtf))
        __builtin_trap();
    if (!ok) {
        // Only text that is not rich text, or nests too deep, is refused.
        if (looksLikeRtf(rtf) && size <= size_t(kMaxRtfGroupDepth))
            __builtin_trap();
        if (!document.isEmpty())
            __builtin_trap();
        return 0;
    }
    if (document.characterCount() > kMaxRtfTextLength + 1)
        __builtin_trap();
    const QString text = document.toRawText();
    for (const QChar c : text) {
        if (c == QChar::ObjectReplacementCharacter || c == QChar(0xFDD0) || c == QChar(0xFDD1) ||
            c == QChar(u'\0'))
            __builtin_trap();
    }
    return 0;
}

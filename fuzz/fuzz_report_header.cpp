// Any bytes as a report file: the header reader must give an answer (a header or one of its
// messages) without crashing, hanging or taking unbounded memory.
#include "core/report/ReportHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    ReportLineSplitter splitter(5, ReportHeader::kMaxHeaderLineLength);
    // Feed in two pieces, so that a line end split between reads is exercised too.
    const QByteArrayView all(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype half = all.size() / 2;
    splitter.feed(all.first(half));
    splitter.feed(all.sliced(half));
    splitter.finish();
    if (splitter.lines().size() > 5)
        __builtin_trap();

    ReportHeader header; // no file name: nothing on disk is looked at
    QString message;
    const bool ok = header.parseHeader(splitter.lines(), message);
    if (ok != message.isEmpty())
        __builtin_trap();
    return 0;
}

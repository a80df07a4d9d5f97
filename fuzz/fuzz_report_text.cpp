// Any bytes as a report file opened in the viewer: loading, every row's text with and without
// frames, the plain text written on saving and a search must never crash or hang, and the rows
// must keep the promises the viewer's painting relies on.
#include "core/report/CodePages.h"
#include "core/report/ReportText.h"
#include "fuzz/FuzzScratch.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = fuzz::writeScratchFile("fuzz_report_text", "LST00001.PRN", data, size);
    ReportText text;
    QString error;
    // Every code page a report may be written in, by the input's length.
    const int codePages[] = {CodePage1250, CodePage852, CodePageKamenicky, CodePageIso88592};
    if (!text.load(path, codePages[size % 4], error))
        std::abort(); // a file that exists always loads
    for (qsizetype row = 0; row < text.rowCount(); ++row) {
        const QByteArrayView bytes = text.rowBytes(row);
        if (bytes.contains('\n') || bytes.contains('\r') || bytes.contains('\0'))
            __builtin_trap();
        const QString shown = text.rowText(row, true);
        if (shown.size() > ReportText::kMaxRowBytes ||
            text.rowText(row, false).size() != shown.size())
            __builtin_trap();
        if (ReportText::plainBytes(bytes).size() > ReportText::kMaxRowBytes)
            __builtin_trap();
    }
    // Searches both ways, for a fixed text and for the start of the last row.
    (void)text.find(QStringLiteral("Nov\u00e1k"), 0, 1);
    if (text.rowCount() > 0)
        (void)text.find(text.rowText(text.rowCount() - 1, true).left(3), text.rowCount() - 1, -1);
    return 0;
}

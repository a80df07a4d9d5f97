// Any bytes as an archived report searched across the archive: the search must never crash or
// hang, and a hit it reports must be where the report viewer shows it, so that opening a result
// selects the text that was found.
#include "core/archive/ArchiveSearch.h"
#include "core/report/ReportText.h"
#include "fuzz/FuzzScratch.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {

void checkHit(const QString& path, const SearchPattern& pattern)
{
    const std::optional<ArchiveSearchHit> hit = searchReport(path, pattern);
    if (!hit)
        return;
    if (hit->hits < 1 || hit->page < 1 || hit->line < 1 || hit->viewerRow < 0 || hit->column < 0)
        __builtin_trap();
    ReportText text;
    QString error;
    if (!text.load(path, hit->report.codePage, error) || hit->viewerRow >= text.rowCount())
        __builtin_trap();
    // Rows the viewer cuts for showing are left out; the needle is letters only, so box-drawing
    // bytes, which the plain row shows as "|", "-" and "+", never stand where it was found.
    const QByteArray row = ReportText::plainBytes(text.rowBytes(hit->viewerRow));
    if (text.rowBytes(hit->viewerRow).size() >= ReportText::kMaxRowBytes)
        return;
    const QByteArray& needle = pattern.needle();
    if (hit->column + needle.size() > row.size())
        __builtin_trap();
    for (qsizetype i = 0; i < needle.size(); ++i) {
        const auto byte = static_cast<unsigned char>(row.at(hit->column + i));
        if (pattern.fold()[byte] != needle.at(i))
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path =
        fuzz::writeScratchFile("fuzz_archive_search", "20240131-081500-LST00001.PRN", data, size);
    checkHit(path, SearchPattern(QStringLiteral("Nov\u00e1k"), false));
    checkHit(path, SearchPattern(QStringLiteral("NOVAK"), true));
    checkHit(path, SearchPattern(QStringLiteral("a"), true));
    return 0;
}

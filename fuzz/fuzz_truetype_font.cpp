// Any bytes as a TrueType font file, read the way the PDF writer reads a font and cut down to
// the glyphs of some characters (Czech letters among them) the way it embeds one.
//
// Besides "no crash, no hang", the subset is checked: read back as a font (its character map
// taken for Unicode), it maps each code to the glyph the code was given, with the same advance
// and outline bounds as in the whole font.
#include "FuzzScratch.h"
#include "print/TrueTypeFont.h"

#include <cstdint>
#include <vector>

namespace {

quint32 get(const QByteArray& data, qsizetype at, int bytes)
{
    quint32 value = 0;
    for (int k = 0; k < bytes; ++k)
        value = value << 8 | uchar(data[at + k]);
    return value;
}

// The offset and length of a table of a font file the subsetter wrote; {0, 0} when missing.
std::pair<qsizetype, qsizetype> tableOf(const QByteArray& font, const char* tag)
{
    for (quint32 i = 0; i < get(font, 4, 2); ++i) {
        const qsizetype record = 12 + qsizetype(i) * 16;
        if (font.mid(record, 4) == tag)
            return {get(font, record + 8, 4), get(font, record + 12, 4)};
    }
    return {0, 0};
}

bool sameBox(const TrueTypeFont::Box& a, const TrueTypeFont::Box& b)
{
    return a.empty == b.empty && (a.empty || (a.xMin == b.xMin && a.yMin == b.yMin &&
                                              a.xMax == b.xMax && a.yMax == b.yMax));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = fuzz::writeScratchFile("fuzz_truetype_font", "font.ttf", data, size);
    const bool collection = size >= 4 && QByteArrayView(data, 4) == "ttcf";
    if (collection)
        (void)TrueTypeFont::load(path, 1);
    const std::optional<TrueTypeFont> font = TrueTypeFont::load(path, 0);
    if (!font)
        return 0;

    // The characters of a report, and four more taken from the input's last bytes.
    std::u32string text = U"AMaz0 -|§ěščřžýáíéůúťďňĚŠČŘŽÝÁÍÉŮÚŤĎŇ€\U0001F600";
    for (size_t k = 0; k < 4 && 2 * k + 2 <= size; ++k)
        text += char32_t(data[size - 2 * k - 2] << 8 | data[size - 2 * k - 1]);
    std::vector<quint16> codes(256, 0);
    for (size_t k = 0; k < text.size(); ++k) {
        const quint16 g = font->glyph(text[k]);
        if (g >= font->widths.size())
            __builtin_trap();
        (void)font->glyphBox(g);
        codes[k + 1] = g;
    }
    const QByteArray subset = font->subset(codes);
    if (subset.isEmpty())
        return 0;

    // The subset's character map is the Windows symbol one (platform 3, encoding 0), which the
    // reader does not take; marked as Unicode, its codes 0xF000 + k are characters.
    const auto [cmap, cmapLength] = tableOf(subset, "cmap");
    if (cmapLength < 12 || get(subset, cmap + 4, 4) != 0x00030000)
        __builtin_trap();
    QByteArray marked = subset;
    marked[cmap + 7] = 1;
    const QString subsetPath = fuzz::writeScratchFile(
        "fuzz_truetype_font", "font.ttf", reinterpret_cast<const uint8_t*>(marked.constData()),
        size_t(marked.size()));
    const std::optional<TrueTypeFont> reread = TrueTypeFont::load(subsetPath, 0);
    if (!reread) {
        // A font is refused without a glyph table, and a subset whose glyphs have no outlines
        // has none.
        if (tableOf(subset, "glyf").second != 0)
            __builtin_trap();
        return 0;
    }
    if (reread->widths.size() != font->widths.size())
        __builtin_trap();
    for (size_t k = 0; k < codes.size(); ++k) {
        const quint16 g = codes[k];
        if (g == 0 && k != 0)
            continue;
        if (reread->glyph(0xF000 + char32_t(k)) != g || reread->widths[g] != font->widths[g] ||
            !sameBox(reread->glyphBox(g), font->glyphBox(g)))
            __builtin_trap();
    }
    return 0;
}

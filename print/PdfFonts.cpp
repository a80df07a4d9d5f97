// The PDF writer's fonts: finding a font file, adding a font and its metrics, codes for glyphs
// and the embedded subsets.
#include "print/PdfStreamPrivate.h"

#include "core/platform/FileName.h"

#include <QCryptographicHash>

#include <fontconfig/fontconfig.h>

#include <array>

using namespace pdf;

// Codes for glyphs, in the order they are given out when a character's own code (below 256)
// is taken: first those that need no escaping and print as no ASCII character would.
constexpr std::array<quint8, 255> kFreeCodes = [] {
    std::array<quint8, 255> codes{};
    int n = 0;
    for (int c = 0x80; c <= 0xFF; ++c)
        codes[size_t(n++)] = quint8(c);
    for (int c = 0x01; c < 0x20; ++c)
        codes[size_t(n++)] = quint8(c);
    for (int c = 0x7F; c >= 0x20; --c)
        codes[size_t(n++)] = quint8(c);
    return codes;
}();

quint32 PdfStream::Private::codeFor(int font, quint16 glyph, char32_t c)
{
    Font& f = fonts[size_t(font)];
    quint32& entry = f.codeOf[glyph];
    if (entry != kNoCode)
        return entry;
    if (f.pdfFonts.empty() || pdfFonts[size_t(f.pdfFonts.back())].count >= kCodesPerFont) {
        f.pdfFonts.push_back(int(pdfFonts.size()));
        pdfFonts.emplace_back().font = font;
    }
    const int index = f.pdfFonts.back();
    PdfFont& p = pdfFonts[size_t(index)];
    unsigned code = c;
    if (c == 0 || c > 0xFF || p.unicodeOf[c]) {
        while (p.unicodeOf[kFreeCodes[size_t(p.cursor)]])
            ++p.cursor;
        code = kFreeCodes[size_t(p.cursor)];
    }
    p.glyphOf[code] = glyph;
    p.unicodeOf[code] = glyph == 0 || c == 0 ? char32_t(0xFFFD) : c;
    p.boxOf[code] = f.glyphBox(glyph);
    p.irregular[code] = f.widths[glyph] != f.baseWidth;
    p.scale(int(code));
    ++p.count;
    entry = quint32(index) << 8 | code;
    return entry;
}

// Writes a PDF font with its descriptor, the subset of its font file and its character map;
// returns the font's object number.
int PdfStream::Private::writeFont(const PdfFont& p, int index)
{
    const Font& font = fonts[size_t(p.font)];
    const int simple = newObject();
    const int descriptor = newObject();
    const int fontFile = newObject();
    const int toUnicode = newObject();

    std::vector<quint16> glyphs(256, 0);
    int firstCode = 255;
    int lastCode = 0;
    for (int code = 0; code < 256; ++code) {
        if (!p.unicodeOf[code])
            continue;
        glyphs[size_t(code)] = p.glyphOf[code];
        firstCode = std::min(firstCode, code);
        lastCode = std::max(lastCode, code);
    }
    const QByteArray subset = font.subset(glyphs);
    if (subset.isEmpty()) {
        fail(QStringLiteral("Písmo %1 nelze vložit do dokumentu PDF.").arg(font.file.path));
        return simple;
    }
    // A subset is named with a tag of six capitals of its own ahead of the font's name.
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(QByteArray::number(index));
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(glyphs.data()),
                                qsizetype(glyphs.size() * sizeof(quint16))));
    const QByteArray digest = hash.result();
    QByteArray name(6, 'A');
    for (int i = 0; i < 6; ++i)
        name[i] = char('A' + uchar(digest[i]) % 26);
    name += '+' + font.name;

    Bytes& dict = beginPacked(simple);
    dict.raw("<</Type/Font/Subtype/TrueType/BaseFont/")
        .raw(name.constData())
        .raw("/FirstChar ")
        .num(firstCode)
        .raw("/LastChar ")
        .num(lastCode)
        .raw("/Widths[");
    for (int code = firstCode; code <= lastCode; ++code) {
        dict.num(p.unicodeOf[code] ? font.widths[p.glyphOf[code]] : 0)
            .raw(code < lastCode ? " " : "");
    }
    dict.raw("]/FontDescriptor ").ref(descriptor).raw("/ToUnicode ").ref(toUnicode).raw(">>");
    endPacked();

    beginPacked(descriptor)
        .raw("<</Type/FontDescriptor/FontName/")
        .raw(name.constData())
        .raw("/Flags ")
        .num(font.flags)
        .raw("/FontBBox[")
        .num(font.bbox[0])
        .raw(" ")
        .num(font.bbox[1])
        .raw(" ")
        .num(font.bbox[2])
        .raw(" ")
        .num(font.bbox[3])
        .raw("]/ItalicAngle ")
        .real(font.italicAngle, 2)
        .raw("/Ascent ")
        .num(font.ascent)
        .raw("/Descent ")
        .num(font.descent)
        .raw("/CapHeight ")
        .num(font.capHeight)
        .raw("/StemV ")
        .num(font.stemV)
        .raw("/FontFile2 ")
        .ref(fontFile)
        .raw(">>");
    endPacked();

    Bytes length1;
    length1.raw("/Length1 ").num(subset.size());
    writeCompressed(fontFile, std::string_view(subset.constData(), size_t(subset.size())),
                    kFontLevel, length1.s);
    flush();

    // The character each code was drawn for, so that text can be extracted and searched.
    Bytes map;
    map.raw("/CIDInit/ProcSet findresource begin\n12 dict begin\nbegincmap\n"
            "/CIDSystemInfo<</Registry(Adobe)/Ordering(UCS)/Supplement 0>>def\n"
            "/CMapName/Adobe-Identity-UCS def\n/CMapType 2 def\n"
            "1 begincodespacerange\n<00><FF>\nendcodespacerange\n");
    std::vector<int> used;
    for (int code = 0; code < 256; ++code) {
        if (p.unicodeOf[code])
            used.push_back(code);
    }
    static constexpr char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < used.size(); i += 100) {
        const size_t end = std::min(used.size(), i + 100);
        map.num(qint64(end - i)).raw(" beginbfchar\n");
        for (size_t k = i; k < end; ++k) {
            const char32_t c = p.unicodeOf[used[k]];
            const char code[2] = {digits[used[k] >> 4], digits[used[k] & 15]};
            map.raw("<").raw(std::string_view(code, 2)).raw("><");
            if (QChar::requiresSurrogates(c))
                map.hex4(QChar::highSurrogate(c)).hex4(QChar::lowSurrogate(c));
            else
                map.hex4(unsigned(c));
            map.raw(">\n");
        }
        map.raw("endbfchar\n");
    }
    map.raw("endcmap\nCMapName currentdict/CMap defineresource pop\nend\nend\n");
    writeCompressed(toUnicode, map.s, kFontLevel);
    return simple;
}

std::optional<PdfStream::FontFile> PdfStream::findFontFile(const QString& family, bool bold,
                                                           bool italic)
{
    FcPattern* pattern = FcPatternCreate();
    if (!pattern)
        return std::nullopt;
    const QByteArray name = family.toUtf8();
    if (!name.isEmpty())
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.constData()));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    std::optional<FontFile> found;
    if (FcConfigSubstitute(nullptr, pattern, FcMatchPattern)) {
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        if (FcPattern* match = FcFontMatch(nullptr, pattern, &result)) {
            FcChar8* path = nullptr;
            int index = 0;
            if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path) {
                if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch)
                    index = 0;
                found =
                    FontFile{platform::decodeFileName(reinterpret_cast<const char*>(path)), index};
            }
            FcPatternDestroy(match);
        }
    }
    FcPatternDestroy(pattern);
    return found;
}

int PdfStream::addFont(const FontFile& file)
{
    for (size_t i = 0; i < m_d->fonts.size(); ++i) {
        if (m_d->fonts[i].file.path == file.path && m_d->fonts[i].file.index == file.index)
            return int(i);
    }
    std::optional<TrueTypeFont> face = TrueTypeFont::load(file.path, file.index);
    if (!face)
        return -1;
    Private::Font font;
    static_cast<TrueTypeFont&>(font) = std::move(*face);
    font.file = file;
    font.glyphOf.assign(0x10000, kUnknownGlyph);
    font.codeOf.assign(font.widths.size(), kNoCode);
    const quint16 space = font.glyph(U' ');
    font.spaceIsBlank =
        space != 0 && font.glyphBox(space).empty && font.widths[space] == font.baseWidth;
    if (font.name.isEmpty())
        font.name = "Font" + QByteArray::number(qulonglong(m_d->fonts.size()));

    m_d->fonts.push_back(std::move(font));
    return int(m_d->fonts.size() - 1);
}

PdfStream::Metrics PdfStream::metrics(int font, double pixelSize) const
{
    Metrics result;
    if (font < 0 || size_t(font) >= m_d->fonts.size() || !(pixelSize > 0) ||
        !std::isfinite(pixelSize))
        return result;
    const Private::Font& f = m_d->fonts[size_t(font)];
    const double scale = pixelSize / 1000.0;
    result.advance = f.baseWidth * scale;
    result.ascent = f.ascent * scale;
    result.descent = -f.descent * scale;
    result.underlinePosition = -f.underlinePosition * scale;
    result.lineThickness = std::max(1, f.underlineThickness) * scale;
    return result;
}

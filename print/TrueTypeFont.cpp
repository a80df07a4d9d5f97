#include "print/TrueTypeFont.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

quint16 u16(const uchar* p)
{
    return quint16(p[0] << 8 | p[1]);
}

qint16 s16(const uchar* p)
{
    return qint16(u16(p));
}

quint32 u32(const uchar* p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

constexpr quint32 tagOf(const char (&tag)[5])
{
    return quint32(uchar(tag[0])) << 24 | quint32(uchar(tag[1])) << 16 |
           quint32(uchar(tag[2])) << 8 | uchar(tag[3]);
}

void put16(QByteArray& out, unsigned value)
{
    out += char((value >> 8) & 0xFF);
    out += char(value & 0xFF);
}

void put32(QByteArray& out, quint32 value)
{
    put16(out, value >> 16);
    put16(out, value & 0xFFFF);
}

void set16(QByteArray& out, qsizetype at, unsigned value)
{
    out[at] = char((value >> 8) & 0xFF);
    out[at + 1] = char(value & 0xFF);
}

void set32(QByteArray& out, qsizetype at, quint32 value)
{
    set16(out, at, value >> 16);
    set16(out, at + 2, value & 0xFFFF);
}

quint32 checksum(QByteArrayView data)
{
    quint32 sum = 0;
    const auto* p = reinterpret_cast<const uchar*>(data.data());
    qsizetype i = 0;
    for (; i + 4 <= data.size(); i += 4)
        sum += u32(p + i);
    if (i < data.size()) {
        uchar tail[4] = {};
        std::memcpy(tail, p + i, size_t(data.size() - i));
        sum += u32(tail);
    }
    return sum;
}

// The table directory of a TrueType font file. Every table found lies within the file.
class Sfnt
{
public:
    explicit Sfnt(const QByteArray& data) : m_data(data)
    {
        const auto* base = reinterpret_cast<const uchar*>(data.constData());
        const qsizetype size = data.size();
        if (size < 12)
            return;
        const quint32 version = u32(base);
        if (version != 0x00010000 && version != 0x74727565) // 'true'
            return;
        const int count = u16(base + 4);
        if (12 + qsizetype(count) * 16 > size)
            return;
        for (int i = 0; i < count; ++i) {
            const uchar* record = base + 12 + i * 16;
            const quint32 offset = u32(record + 8);
            const quint32 length = u32(record + 12);
            if (offset > quint64(size) || length > quint64(size) - offset)
                return;
            m_tables.push_back({u32(record), offset, length});
        }
        m_valid = true;
    }

    bool valid() const { return m_valid; }
    std::vector<TrueTypeFont::Table> tables() const
    {
        std::vector<TrueTypeFont::Table> result;
        for (const Table& t : m_tables)
            result.push_back({t.tag, t.offset, t.length});
        return result;
    }

    // The table `tag`, or empty when missing or shorter than `minimum` bytes. Of two tables
    // with one tag the first counts, as it does for the font read (TrueTypeFont::table).
    QByteArrayView table(const char (&tag)[5], qsizetype minimum = 1) const
    {
        const quint32 wanted = u32(reinterpret_cast<const uchar*>(tag));
        for (const Table& t : m_tables) {
            if (t.tag != wanted)
                continue;
            if (qsizetype(t.length) < minimum)
                return {};
            return QByteArrayView(m_data.constData() + t.offset, t.length);
        }
        return {};
    }

private:
    struct Table
    {
        quint32 tag;
        quint32 offset;
        quint32 length;
    };
    const QByteArray& m_data;
    std::vector<Table> m_tables;
    bool m_valid = false;
};

const uchar* bytes(QByteArrayView view)
{
    return reinterpret_cast<const uchar*>(view.data());
}

// Face `index` of a font collection as a file of its own: its table directory followed by
// copies of its tables. Empty when the collection is damaged or has no such face.
QByteArray extractFace(const QByteArray& collection, int index)
{
    const auto* base = reinterpret_cast<const uchar*>(collection.constData());
    const qsizetype size = collection.size();
    if (size < 12 || index < 0 || quint32(index) >= u32(base + 8) ||
        16 + qsizetype(index) * 4 > size)
        return {};
    const quint32 start = u32(base + 12 + index * 4);
    if (start > quint64(size) || quint64(size) - start < 12)
        return {};
    const uchar* header = base + start;
    const int count = u16(header + 4);
    if (quint64(start) + 12 + quint64(count) * 16 > quint64(size))
        return {};
    QByteArray face(collection.mid(start, 12 + qsizetype(count) * 16));
    for (int i = 0; i < count; ++i) {
        const uchar* record = header + 12 + i * 16;
        const quint32 offset = u32(record + 8);
        const quint32 length = u32(record + 12);
        // The tables of one face do not overlap, so together they fit in the collection; a
        // damaged directory could otherwise copy the whole file once per table.
        if (offset > quint64(size) || length > quint64(size) - offset ||
            quint64(face.size()) + length > 2 * quint64(size))
            return {};
        const quint32 at = quint32(face.size());
        uchar* out = reinterpret_cast<uchar*>(face.data()) + 12 + i * 16 + 8;
        out[0] = uchar(at >> 24);
        out[1] = uchar(at >> 16);
        out[2] = uchar(at >> 8);
        out[3] = uchar(at);
        face.append(collection.constData() + offset, length);
        face.append((4 - length % 4) % 4, '\0');
    }
    return face;
}

// A name PDF accepts unescaped: the font's PostScript name (name id 6) with anything but
// regular printable characters left out.
QByteArray postScriptName(QByteArrayView name)
{
    QByteArray result;
    if (name.size() < 6)
        return result;
    const uchar* table = bytes(name);
    const int count = u16(table + 2);
    const int strings = u16(table + 4);
    for (int i = 0; i < count && 6 + (i + 1) * 12 <= name.size(); ++i) {
        const uchar* record = table + 6 + i * 12;
        const int platform = u16(record);
        if (u16(record + 6) != 6 || (platform != 1 && platform != 3))
            continue;
        const qsizetype length = u16(record + 8);
        const qsizetype offset = strings + u16(record + 10);
        if (offset + length > name.size())
            continue;
        const int step = platform == 3 ? 2 : 1;
        for (qsizetype k = step - 1; k < length; k += step) {
            const uchar c = table[offset + k];
            if (step == 2 && table[offset + k - 1] != 0)
                continue;
            if (c > 32 && c < 127 && !std::strchr("()<>[]{}/%#", c))
                result += char(c);
        }
        if (!result.isEmpty())
            break;
    }
    return result;
}

// The character map subtable to look characters up in: Unicode with all planes (format 12)
// when the font has one, else the Unicode BMP map (format 4). Offsets are 32-bit values of the
// file, so sums with them are taken in 64 bits: near 4 GiB they would wrap around in 32.
bool chooseCmap(QByteArrayView cmap, QByteArrayView& table, int& format)
{
    if (cmap.size() < 4)
        return false;
    const uchar* p = reinterpret_cast<const uchar*>(cmap.data());
    const int count = u16(p + 2);
    const quint64 size = quint64(cmap.size());
    if (4 + quint64(count) * 8 > size)
        return false;
    QByteArrayView best;
    int bestFormat = 0;
    for (int i = 0; i < count; ++i) {
        const uchar* record = p + 4 + 8 * i;
        const int platform = u16(record);
        const int encoding = u16(record + 2);
        const quint64 offset = u32(record + 4);
        const bool unicode = platform == 0 || (platform == 3 && (encoding == 1 || encoding == 10));
        if (!unicode || offset + 8 > size)
            continue;
        const int f = u16(p + offset);
        quint64 length = 0;
        if (f == 4)
            length = u16(p + offset + 2);
        else if (f == 12 && offset + 16 <= size)
            length = u32(p + offset + 4);
        else
            continue;
        if (length < 16 || offset + length > size)
            continue;
        if (f > bestFormat) {
            best = cmap.sliced(qsizetype(offset), qsizetype(length));
            bestFormat = f;
        }
    }
    table = best;
    format = bestFormat;
    return bestFormat != 0;
}

} // namespace

std::optional<TrueTypeFont> TrueTypeFont::load(const QString& path, int index)
{
    // Variable font instances (index above 0xFFFF) cannot be embedded as such.
    if (index < 0 || index > 0xFFFF)
        return std::nullopt;
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly) || in.size() > (qint64(1) << 30))
        return std::nullopt;
    TrueTypeFont font;
    font.data = in.readAll();
    if (font.data.startsWith("ttcf"))
        font.data = extractFace(font.data, index);
    else if (index != 0)
        return std::nullopt;

    const Sfnt sfnt(font.data);
    const QByteArrayView head = sfnt.table("head", 54);
    const QByteArrayView hhea = sfnt.table("hhea", 36);
    const QByteArrayView maxp = sfnt.table("maxp", 6);
    const QByteArrayView hmtx = sfnt.table("hmtx", 4);
    if (!sfnt.valid() || head.isEmpty() || hhea.isEmpty() || maxp.isEmpty() || hmtx.isEmpty() ||
        sfnt.table("glyf").isEmpty() || sfnt.table("loca").isEmpty() ||
        sfnt.table("cmap").isEmpty())
        return std::nullopt;
    const QByteArrayView os2 = sfnt.table("OS/2", 10);
    const QByteArrayView post = sfnt.table("post", 16);

    // Fonts whose licence forbids embedding (restricted, or bitmaps only) are refused.
    if (!os2.isEmpty()) {
        const int fsType = u16(bytes(os2) + 8);
        if ((fsType & 0x000F) == 0x0002 || (fsType & 0x0200))
            return std::nullopt;
    }

    font.unitsPerEm = u16(bytes(head) + 18);
    const int glyphCount = u16(bytes(maxp) + 4);
    const int metricCount = std::min<int>(u16(bytes(hhea) + 34), glyphCount);
    if (font.unitsPerEm < 16 || glyphCount == 0 || metricCount == 0 ||
        hmtx.size() < qsizetype(metricCount) * 4)
        return std::nullopt;
    const auto scaled = [&](int value) {
        return int(std::lround(value * 1000.0 / font.unitsPerEm));
    };
    font.widths.resize(size_t(glyphCount));
    bool fixedPitch = true;
    for (int g = 0; g < glyphCount; ++g) {
        const int advance = u16(bytes(hmtx) + 4 * std::min(g, metricCount - 1));
        font.widths[size_t(g)] = scaled(advance);
        fixedPitch = fixedPitch && (advance == 0 || advance == u16(bytes(hmtx)));
    }

    if (!chooseCmap(sfnt.table("cmap"), font.cmap, font.cmapFormat))
        return std::nullopt;
    font.baseWidth = font.widths[font.glyph(U'M')];

    const uchar* h = bytes(head);
    font.bbox[0] = scaled(s16(h + 36));
    font.bbox[1] = scaled(s16(h + 38));
    font.bbox[2] = scaled(s16(h + 40));
    font.bbox[3] = scaled(s16(h + 42));
    const int macStyle = u16(h + 44);
    font.ascent = scaled(s16(bytes(hhea) + 4));
    font.descent = scaled(s16(bytes(hhea) + 6));
    int weight = (macStyle & 1) ? 700 : 400;
    font.capHeight = font.ascent * 7 / 10;
    if (!os2.isEmpty()) {
        weight = u16(bytes(os2) + 4);
        if (os2.size() >= 90 && u16(bytes(os2)) >= 2 && s16(bytes(os2) + 88) > 0)
            font.capHeight = scaled(s16(bytes(os2) + 88));
    }
    // No table holds the stem width; it is estimated from the weight class.
    font.stemV = int(std::lround(50 + std::pow(std::clamp(weight, 100, 900) / 65.0, 2)));
    if (!post.isEmpty()) {
        font.italicAngle = qint32(u32(bytes(post) + 4)) / 65536.0;
        font.underlinePosition = scaled(s16(bytes(post) + 8));
        font.underlineThickness = scaled(s16(bytes(post) + 10));
        fixedPitch = fixedPitch || u32(bytes(post) + 12) != 0;
    }
    // Symbolic: the glyphs go beyond the standard Latin character set (Czech letters do).
    font.flags = 4;
    if (fixedPitch)
        font.flags |= 1;
    if (font.italicAngle != 0 || (macStyle & 2))
        font.flags |= 64;

    font.name = postScriptName(sfnt.table("name", 6));
    font.longLoca = s16(h + 50) != 0;
    font.tables = sfnt.tables();
    return font;
}

quint16 TrueTypeFont::glyph(char32_t c) const
{
    const QByteArrayView t = cmap;
    const uchar* p = reinterpret_cast<const uchar*>(t.data());
    quint32 glyph = 0;
    if (cmapFormat == 4 && c <= 0xFFFF) {
        const int segments = u16(p + 6) / 2;
        const qsizetype ends = 14;
        const qsizetype starts = ends + 2 * segments + 2;
        const qsizetype deltas = starts + 2 * segments;
        const qsizetype offsets = deltas + 2 * segments;
        if (offsets + 2 * segments > t.size())
            return 0;
        for (int s = 0; s < segments; ++s) {
            if (c > u16(p + ends + 2 * s))
                continue;
            const quint32 start = u16(p + starts + 2 * s);
            if (c < start)
                return 0;
            const quint16 delta = u16(p + deltas + 2 * s);
            const quint16 rangeOffset = u16(p + offsets + 2 * s);
            if (rangeOffset == 0) {
                glyph = (c + delta) & 0xFFFF;
            } else {
                const qsizetype at = offsets + 2 * s + rangeOffset + 2 * (c - start);
                if (at + 2 > t.size())
                    return 0;
                glyph = u16(p + at);
                if (glyph != 0)
                    glyph = (glyph + delta) & 0xFFFF;
            }
            break;
        }
    } else if (cmapFormat == 12) {
        const quint32 groups = u32(p + 12);
        if (16 + qint64(groups) * 12 > t.size())
            return 0;
        // Groups are sorted by their first character.
        quint32 lo = 0;
        quint32 hi = groups;
        while (lo < hi) {
            const quint32 mid = (lo + hi) / 2;
            const uchar* g = p + 16 + qsizetype(mid) * 12;
            if (c < u32(g))
                hi = mid;
            else if (c > u32(g + 4))
                lo = mid + 1;
            else {
                glyph = u32(g + 8) + (c - u32(g));
                break;
            }
        }
    }
    return glyph < widths.size() ? quint16(glyph) : 0;
}

QByteArrayView TrueTypeFont::table(quint32 tag) const
{
    for (const Table& t : tables) {
        if (t.tag == tag)
            return QByteArrayView(data.constData() + t.offset, t.length);
    }
    return {};
}

QByteArrayView TrueTypeFont::glyphData(quint16 glyph) const
{
    const QByteArrayView loca = table(tagOf("loca"));
    const QByteArrayView glyf = table(tagOf("glyf"));
    const qsizetype entry = longLoca ? 4 : 2;
    if ((qsizetype(glyph) + 2) * entry > loca.size())
        return {};
    const uchar* p = bytes(loca) + qsizetype(glyph) * entry;
    const quint64 start = longLoca ? u32(p) : quint64(u16(p)) * 2;
    const quint64 end = longLoca ? u32(p + entry) : quint64(u16(p + entry)) * 2;
    if (start >= end || end > quint64(glyf.size()) || end - start < 10)
        return {};
    return glyf.sliced(qsizetype(start), qsizetype(end - start));
}

TrueTypeFont::Box TrueTypeFont::glyphBox(quint16 glyph) const
{
    Box box;
    const QByteArrayView g = glyphData(glyph);
    if (g.isEmpty())
        return box;
    const auto scaled = [&](int value) {
        return int(std::lround(value * 1000.0 / unitsPerEm));
    };
    const uchar* p = bytes(g);
    if (s16(p) == 0) // no contours
        return box;
    box.xMin = scaled(s16(p + 2));
    box.yMin = scaled(s16(p + 4));
    box.xMax = scaled(s16(p + 6));
    box.yMax = scaled(s16(p + 8));
    box.empty = box.xMin > box.xMax || box.yMin > box.yMax;
    return box;
}

QByteArray TrueTypeFont::subset(const std::vector<quint16>& codeGlyphs) const
{
    const QByteArrayView head = table(tagOf("head"));
    const QByteArrayView maxp = table(tagOf("maxp"));
    const QByteArrayView hhea = table(tagOf("hhea"));
    const QByteArrayView hmtx = table(tagOf("hmtx"));
    if (head.size() < 54 || maxp.size() < 6 || hhea.size() < 36 || codeGlyphs.size() > 256)
        return {};
    const int glyphCount = int(widths.size());

    // The glyphs kept: .notdef, those of the codes, and the components of composite glyphs.
    std::vector<char> kept(size_t(glyphCount), 0);
    std::vector<quint16> pending{0};
    for (const quint16 g : codeGlyphs)
        pending.push_back(g);
    while (!pending.empty()) {
        const quint16 g = pending.back();
        pending.pop_back();
        if (g >= glyphCount || kept[g])
            continue;
        kept[g] = 1;
        const QByteArrayView d = glyphData(g);
        if (d.isEmpty() || s16(bytes(d)) >= 0)
            continue;
        // A composite glyph: a list of components, each a glyph id with its placement.
        qsizetype at = 10;
        for (;;) {
            if (at + 4 > d.size())
                break;
            const int flags = u16(bytes(d) + at);
            pending.push_back(u16(bytes(d) + at + 2));
            at += 4 + ((flags & 0x0001) ? 4 : 2);
            if (flags & 0x0008)
                at += 2;
            else if (flags & 0x0040)
                at += 4;
            else if (flags & 0x0080)
                at += 8;
            if (!(flags & 0x0020))
                break;
        }
    }

    // Glyph table and its locations; offsets are even, so the short form holds up to 128 KiB.
    QByteArray glyf;
    std::vector<quint32> offsets;
    offsets.reserve(size_t(glyphCount) + 1);
    for (int g = 0; g < glyphCount; ++g) {
        offsets.push_back(quint32(glyf.size()));
        if (kept[size_t(g)]) {
            const QByteArrayView d = glyphData(quint16(g));
            // Glyphs do not overlap in a sound font; a damaged location table could otherwise
            // copy the whole glyph table once per glyph.
            if (quint64(glyf.size()) + quint64(d.size()) >
                2 * quint64(table(tagOf("glyf")).size()) + 16)
                return {};
            glyf.append(d.data(), d.size());
            if (glyf.size() % 2)
                glyf += '\0';
        }
    }
    if (quint64(glyf.size()) > 0xFFFFFFFF)
        return {};
    offsets.push_back(quint32(glyf.size()));
    const bool shortLoca = glyf.size() <= 0x1FFFE;
    QByteArray loca;
    for (const quint32 offset : offsets) {
        if (shortLoca)
            put16(loca, offset / 2);
        else
            put32(loca, offset);
    }

    // Metrics of the glyphs left out are never used; zeroed, they take no room once compressed.
    // The last full metric stays: its advance is that of every glyph after it.
    QByteArray metrics = hmtx.toByteArray();
    const int longMetrics = std::min<int>(u16(bytes(hhea) + 34), glyphCount);
    for (int g = 0; g < glyphCount; ++g) {
        if (kept[size_t(g)] || g == longMetrics - 1)
            continue;
        if (g < longMetrics && qsizetype(g) * 4 + 4 <= metrics.size())
            set32(metrics, qsizetype(g) * 4, 0);
        else if (const qsizetype at = qsizetype(longMetrics) * 4 + qsizetype(g - longMetrics) * 2;
                 g >= longMetrics && at + 2 <= metrics.size())
            set16(metrics, at, 0);
    }

    // Character map: Windows symbol encoding, one segment per code at 0xF000 + code.
    std::vector<std::pair<unsigned, quint16>> codes;
    for (size_t k = 0; k < codeGlyphs.size(); ++k) {
        if (codeGlyphs[k] != 0 || k == 0)
            codes.emplace_back(0xF000 + unsigned(k), codeGlyphs[k]);
    }
    const int segments = int(codes.size()) + 1;
    int power = 1;
    int log2 = 0;
    while (power * 2 <= segments) {
        power *= 2;
        ++log2;
    }
    QByteArray sub;
    put16(sub, 4);
    put16(sub, unsigned(16 + segments * 8));
    put16(sub, 0);
    put16(sub, unsigned(segments * 2));
    put16(sub, unsigned(power * 2));
    put16(sub, unsigned(log2));
    put16(sub, unsigned((segments - power) * 2));
    for (const auto& [code, glyph] : codes)
        put16(sub, code);
    put16(sub, 0xFFFF);
    put16(sub, 0); // reserved
    for (const auto& [code, glyph] : codes)
        put16(sub, code);
    put16(sub, 0xFFFF);
    for (const auto& [code, glyph] : codes)
        put16(sub, (glyph - code) & 0xFFFF);
    put16(sub, 1);
    for (int i = 0; i < segments; ++i)
        put16(sub, 0);
    QByteArray cmapTable;
    put16(cmapTable, 0);
    put16(cmapTable, 1);
    put16(cmapTable, 3);
    put16(cmapTable, 0);
    put32(cmapTable, 12);
    cmapTable += sub;

    QByteArray headTable = head.toByteArray();
    set32(headTable, 8, 0); // checkSumAdjustment, set below
    set16(headTable, 50, shortLoca ? 0 : 1);

    // The tables in tag order; glyph names and the rest are left out.
    std::vector<std::pair<quint32, QByteArray>> out;
    const auto copy = [&](const char(&tag)[5]) {
        const QByteArrayView t = table(tagOf(tag));
        if (!t.isEmpty())
            out.emplace_back(tagOf(tag), t.toByteArray());
    };
    copy("OS/2");
    out.emplace_back(tagOf("cmap"), cmapTable);
    copy("cvt ");
    copy("fpgm");
    copy("gasp");
    out.emplace_back(tagOf("glyf"), glyf);
    out.emplace_back(tagOf("head"), headTable);
    copy("hhea");
    out.emplace_back(tagOf("hmtx"), metrics);
    out.emplace_back(tagOf("loca"), loca);
    copy("maxp");
    if (const QByteArrayView post = table(tagOf("post")); post.size() >= 32) {
        QByteArray names = post.first(32).toByteArray();
        set32(names, 0, 0x00030000); // no glyph names
        out.emplace_back(tagOf("post"), names);
    }
    copy("prep");
    std::sort(out.begin(), out.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });

    QByteArray file;
    const int count = int(out.size());
    int tablePower = 1;
    int tableLog2 = 0;
    while (tablePower * 2 <= count) {
        tablePower *= 2;
        ++tableLog2;
    }
    put32(file, 0x00010000);
    put16(file, unsigned(count));
    put16(file, unsigned(tablePower * 16));
    put16(file, unsigned(tableLog2));
    put16(file, unsigned((count - tablePower) * 16));
    // Offsets in the table directory are 32-bit: a file that would not fit is not written (the
    // tables of a damaged font may overlap, each copied in full).
    quint64 offset = 12 + quint64(count) * 16;
    qsizetype headAt = -1;
    for (const auto& [tag, bytesOfTable] : out) {
        if (offset + quint64(bytesOfTable.size()) > 0xFFFFFFFF)
            return {};
        put32(file, tag);
        put32(file, checksum(bytesOfTable));
        put32(file, quint32(offset));
        put32(file, quint32(bytesOfTable.size()));
        if (tag == tagOf("head"))
            headAt = qsizetype(offset);
        offset += quint64((bytesOfTable.size() + 3) & ~qsizetype(3));
    }
    for (const auto& [tag, bytesOfTable] : out) {
        file += bytesOfTable;
        file.append((4 - bytesOfTable.size() % 4) % 4, '\0');
    }
    if (headAt >= 0)
        set32(file, headAt + 8, 0xB1B0AFBA - checksum(file));
    return file;
}

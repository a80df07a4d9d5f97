#include "print/PdfStream.h"

#include "platform/FileName.h"
#include "print/TrueTypeFont.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <fontconfig/fontconfig.h>
#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Page contents are compressed with the fastest level: report pages are long runs of hex glyph
// ids and numbers, which the fastest level already shrinks about tenfold, while the default
// level costs more than all the other work of writing a page.
constexpr int kContentLevel = Z_BEST_SPEED;
// Fonts and character maps are written once per document; they get the default level.
constexpr int kFontLevel = Z_DEFAULT_COMPRESSION;
// Bytes gathered before they are handed to the file.
constexpr size_t kFlushSize = 256 * 1024;
// Object numbers reserved when a document is opened.
constexpr int kCatalog = 1;
constexpr int kPages = 2;
constexpr int kResources = 3;
// Marks a character whose glyph has not been looked up yet; no font has 65536 glyphs.
constexpr quint16 kUnknownGlyph = 0xFFFF;
// A4 in points, for a document that ends without a page.
constexpr double kA4Width = 595.2756;
constexpr double kA4Height = 841.8898;

// PDF text appended to a byte string: numbers in the plain notation PDF requires (no exponents,
// no locale), names, hex strings.
class Bytes
{
public:
    std::string s;

    Bytes& raw(std::string_view text)
    {
        s.append(text);
        return *this;
    }
    Bytes& num(long long value)
    {
        char buffer[24];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        s.append(buffer, size_t(end - buffer));
        return *this;
    }
    // A real number with at most `decimals` decimals, trailing zeros dropped.
    Bytes& real(double value, int decimals = 4)
    {
        char buffer[64];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                             std::chars_format::fixed, decimals);
        if (ec != std::errc() || !std::isfinite(value)) {
            s += '0';
            return *this;
        }
        char* last = end;
        if (std::find(buffer, last, '.') != last) {
            while (last[-1] == '0')
                --last;
            if (last[-1] == '.')
                --last;
        }
        const std::string_view text(buffer, size_t(last - buffer));
        s.append(text == "-0" ? std::string_view("0") : text);
        return *this;
    }
    Bytes& ref(int object) { return num(object).raw(" 0 R"); }
    Bytes& hex4(unsigned value)
    {
        static constexpr char digits[] = "0123456789ABCDEF";
        const char text[4] = {digits[(value >> 12) & 15], digits[(value >> 8) & 15],
                              digits[(value >> 4) & 15], digits[value & 15]};
        s.append(text, 4);
        return *this;
    }
    // One byte of a literal string, escaped where the string syntax needs it (a CR would be read
    // as a line end).
    Bytes& literalByte(unsigned char c)
    {
        switch (c) {
        case '(':
        case ')':
        case '\\':
            s += '\\';
            s += char(c);
            break;
        case '\r':
            s += "\\r";
            break;
        default:
            s += char(c);
        }
        return *this;
    }
    // A two-byte glyph id inside a literal string: half the size of hex, which matters when a
    // report puts millions of glyphs into one document.
    Bytes& glyph2(unsigned value)
    {
        return literalByte((value >> 8) & 0xFF).literalByte(value & 0xFF);
    }
    // A text string as UTF-16BE with a byte order mark, written in hex.
    Bytes& textString(const QString& text)
    {
        raw("<FEFF");
        for (const QChar c : text)
            hex4(c.unicode());
        return raw(">");
    }
};

QString ioError(const QString& path, const QString& reason)
{
    return QStringLiteral("Zápis do souboru %1 selhal: %2").arg(path, reason);
}

} // namespace

struct PdfStream::Private
{
    // A font added to the document: its file, and which of its glyphs the document uses.
    struct Font : TrueTypeFont
    {
        FontFile file;
        std::vector<quint16> glyphOf;    // glyph of each BMP character, looked up when first used
        std::vector<char32_t> unicodeOf; // character each glyph stands for; 0 while unused
        bool used = false;
    };

    explicit Private(int res) : resolution(res > 0 ? res : 1200) {}

    // Output -------------------------------------------------------------------------------
    bool failed() const { return !error.isEmpty(); }
    qint64 position() const { return written + qint64(out.s.size()); }
    void fail(const QString& text)
    {
        if (error.isEmpty())
            error = text;
    }
    void flush()
    {
        if (out.s.empty())
            return;
        if (!failed() && file.write(out.s.data(), qint64(out.s.size())) != qint64(out.s.size()))
            fail(ioError(file.fileName(), file.errorString()));
        written += qint64(out.s.size());
        out.s.clear();
    }
    void flushIfFull()
    {
        if (out.s.size() >= kFlushSize)
            flush();
    }
    int newObject()
    {
        offsets.push_back(0);
        return int(offsets.size() - 1);
    }
    Bytes& beginObject(int object)
    {
        offsets[size_t(object)] = position();
        return out.num(object).raw(" 0 obj\n");
    }
    void endObject()
    {
        out.raw("\nendobj\n");
        flushIfFull();
    }
    // A stream object whose data is already compressed.
    void writeStream(int object, std::string_view data, std::string_view dictionary = {})
    {
        beginObject(object)
            .raw("<</Length ")
            .num(qint64(data.size()))
            .raw("/Filter/FlateDecode")
            .raw(dictionary)
            .raw(">>\nstream\n")
            .raw(data)
            .raw("\nendstream");
        endObject();
    }
    bool compress(std::string_view data, std::string& result, z_stream& stream)
    {
        result.resize(deflateBound(&stream, uLong(data.size())));
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        stream.avail_in = uInt(data.size());
        stream.next_out = reinterpret_cast<Bytef*>(result.data());
        stream.avail_out = uInt(result.size());
        const bool done = deflate(&stream, Z_FINISH) == Z_STREAM_END;
        result.resize(stream.total_out);
        deflateReset(&stream);
        if (!done)
            fail(QStringLiteral("Kompresi dat dokumentu PDF se nepodařilo dokončit."));
        return done;
    }
    void writeCompressed(int object, std::string_view data, int level,
                         std::string_view dictionary = {})
    {
        z_stream stream{};
        if (deflateInit(&stream, level) != Z_OK) {
            fail(QStringLiteral("Kompresi dat dokumentu PDF nelze zahájit."));
            return;
        }
        std::string packed;
        if (compress(data, packed, stream))
            writeStream(object, packed, dictionary);
        deflateEnd(&stream);
    }

    // Document --------------------------------------------------------------------------------
    void resetDocument()
    {
        offsets.clear();
        offsets.shrink_to_fit();
        pages.clear();
        pages.shrink_to_fit();
        written = 0;
        out.s.clear();
        error.clear();
        inPage = false;
        for (Font& font : fonts) {
            font.used = false;
            std::fill(font.unicodeOf.begin(), font.unicodeOf.end(), 0);
        }
    }
    void startPageContent();
    int writeFont(const Font& font);
    void writeInfo(int object);
    void writeTrailer(int info);

    const int resolution;
    QString title;
    QString creator;
    std::vector<Font> fonts;

    QFile file;
    Bytes out;          // bytes not yet handed to the file
    qint64 written = 0; // bytes handed to the file
    QString error;      // the first failure; nothing more is written after it
    bool open = false;
    std::vector<qint64> offsets; // of each object, by number; [0] unused
    std::vector<int> pages;      // page object numbers

    bool inPage = false;
    QSizeF paper;
    QPointF origin;
    Bytes content;      // of the open page
    std::string packed; // its compressed form
    z_stream deflater{};
    bool deflaterReady = false;
    std::vector<quint16> glyphs; // of one text() call
    int lineWidth = 1;
    int pageFont = -1; // text state set in the open page
    double pageSize = -1;
    double pageSpacing = 0;
};

void PdfStream::Private::startPageContent()
{
    const double scale = 72.0 / resolution;
    content.s.clear();
    content.real(scale, 8)
        .raw(" 0 0 ")
        .real(-scale, 8)
        .raw(" ")
        .real(origin.x())
        .raw(" ")
        .real(paper.height() - origin.y())
        .raw(" cm 1 J 1 j ")
        .num(lineWidth)
        .raw(" w\n");
    pageFont = -1;
    pageSize = -1;
    pageSpacing = 0;
}

// Writes a font with its descendant, descriptor, file and character map; returns the font's
// object number.
int PdfStream::Private::writeFont(const Font& font)
{
    const int type0 = newObject();
    const int cidFont = newObject();
    const int descriptor = newObject();
    const int fontFile = newObject();
    const int toUnicode = newObject();
    const auto glyphCount = int(font.widths.size());

    beginObject(type0)
        .raw("<</Type/Font/Subtype/Type0/BaseFont/")
        .raw(font.name.constData())
        .raw("/Encoding/Identity-H/DescendantFonts[")
        .ref(cidFont)
        .raw("]/ToUnicode ")
        .ref(toUnicode)
        .raw(">>");
    endObject();

    // Widths of the glyphs used that differ from the default width, in runs of consecutive ids.
    Bytes& cid = beginObject(cidFont);
    cid.raw("<</Type/Font/Subtype/CIDFontType2/BaseFont/")
        .raw(font.name.constData())
        .raw("/CIDSystemInfo<</Registry(Adobe)/Ordering(Identity)/Supplement 0>>/FontDescriptor ")
        .ref(descriptor)
        .raw("/CIDToGIDMap/Identity/DW ")
        .num(font.baseWidth)
        .raw("/W[");
    for (int g = 0; g < glyphCount;) {
        if (!font.unicodeOf[size_t(g)] || font.widths[size_t(g)] == font.baseWidth) {
            ++g;
            continue;
        }
        cid.num(g).raw("[");
        for (bool first = true; g < glyphCount && font.unicodeOf[size_t(g)] &&
                                font.widths[size_t(g)] != font.baseWidth;
             ++g, first = false) {
            if (!first)
                cid.raw(" ");
            cid.num(font.widths[size_t(g)]);
        }
        cid.raw("]");
        flushIfFull();
    }
    cid.raw("]>>");
    endObject();

    beginObject(descriptor)
        .raw("<</Type/FontDescriptor/FontName/")
        .raw(font.name.constData())
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
    endObject();

    Bytes length1;
    length1.raw("/Length1 ").num(font.data.size());
    writeCompressed(fontFile, std::string_view(font.data.constData(), size_t(font.data.size())),
                    kFontLevel, length1.s);
    flush();

    // The character each glyph was drawn for, so that text can be extracted and searched.
    Bytes map;
    map.raw("/CIDInit/ProcSet findresource begin\n12 dict begin\nbegincmap\n"
            "/CIDSystemInfo<</Registry(Adobe)/Ordering(UCS)/Supplement 0>>def\n"
            "/CMapName/Adobe-Identity-UCS def\n/CMapType 2 def\n"
            "1 begincodespacerange\n<0000><FFFF>\nendcodespacerange\n");
    std::vector<int> used;
    for (int g = 0; g < glyphCount; ++g) {
        if (font.unicodeOf[size_t(g)])
            used.push_back(g);
    }
    for (size_t i = 0; i < used.size(); i += 100) {
        const size_t end = std::min(used.size(), i + 100);
        map.num(qint64(end - i)).raw(" beginbfchar\n");
        for (size_t k = i; k < end; ++k) {
            const char32_t c = font.unicodeOf[size_t(used[k])];
            map.raw("<").hex4(unsigned(used[k])).raw("><");
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
    return type0;
}

void PdfStream::Private::writeInfo(int object)
{
    const QDateTime now = QDateTime::currentDateTime();
    const int offset = now.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    const QString date = now.toString(QStringLiteral("yyyyMMddHHmmss")) %
                         (offset < 0 ? u'-' : u'+') %
                         QString::number(minutes / 60).rightJustified(2, u'0') % u'\'' %
                         QString::number(minutes % 60).rightJustified(2, u'0') % u'\'';
    Bytes& info = beginObject(object);
    info.raw("<<");
    if (!title.isEmpty())
        info.raw("/Title").textString(title);
    if (!creator.isEmpty())
        info.raw("/Creator").textString(creator);
    info.raw("/Producer(Tarnyx " TARNYX_VERSION_STRING ")/CreationDate(D:")
        .raw(date.toLatin1().constData())
        .raw(")>>");
    endObject();
}

void PdfStream::Private::writeTrailer(int info)
{
    const qint64 xref = position();
    const auto count = qint64(offsets.size());
    out.raw("xref\n0 ").num(count).raw("\n0000000000 65535 f \n");
    for (size_t i = 1; i < offsets.size(); ++i) {
        char entry[21];
        std::snprintf(entry, sizeof entry, "%010lld 00000 n \n",
                      static_cast<long long>(offsets[i]));
        out.raw(std::string_view(entry, 20));
        flushIfFull();
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(file.fileName().toUtf8());
    hash.addData(QByteArray::number(QDateTime::currentMSecsSinceEpoch()));
    hash.addData(QByteArray::number(xref));
    const QByteArray id = hash.result().toHex().toUpper();
    out.raw("trailer\n<</Size ")
        .num(count)
        .raw("/Root ")
        .ref(kCatalog)
        .raw("/Info ")
        .ref(info)
        .raw("/ID[<")
        .raw(id.constData())
        .raw("><")
        .raw(id.constData())
        .raw(">]>>\nstartxref\n")
        .num(xref)
        .raw("\n%%EOF\n");
}

PdfStream::PdfStream(int resolution) : m_d(std::make_unique<Private>(resolution))
{
    m_d->content.s.reserve(64 * 1024);
    m_d->out.s.reserve(kFlushSize + 64 * 1024);
}

PdfStream::~PdfStream()
{
    discard();
    if (m_d->deflaterReady)
        deflateEnd(&m_d->deflater);
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

bool PdfStream::open(const QString& path, QString& error)
{
    if (m_d->open) {
        error = QStringLiteral("Dokument PDF %1 je už otevřen.").arg(m_d->file.fileName());
        return false;
    }
    m_d->resetDocument();
    m_d->file.setFileName(path);
    if (!m_d->file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        error = QStringLiteral("Nelze vytvořit soubor %1: %2").arg(path, m_d->file.errorString());
        return false;
    }
    if (!m_d->deflaterReady) {
        if (deflateInit(&m_d->deflater, kContentLevel) != Z_OK) {
            m_d->file.close();
            m_d->file.remove();
            error = QStringLiteral("Kompresi dat dokumentu PDF nelze zahájit.");
            return false;
        }
        m_d->deflaterReady = true;
    }
    m_d->open = true;
    for (int i = 0; i <= kResources; ++i)
        m_d->newObject();
    m_d->out.raw("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    return true;
}

void PdfStream::setInfo(const QString& title, const QString& creator)
{
    m_d->title = title;
    m_d->creator = creator;
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
    font.unicodeOf.assign(font.widths.size(), 0);
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

void PdfStream::beginPage(const QSizeF& paper, const QPointF& origin)
{
    if (!m_d->open)
        return;
    if (m_d->inPage) {
        QString ignored;
        endPage(ignored);
    }
    if (!(paper.width() > 0 && paper.height() > 0 && paper.width() < 1e6 && paper.height() < 1e6) ||
        !std::isfinite(origin.x()) || !std::isfinite(origin.y()))
        m_d->fail(QStringLiteral("Neplatný rozměr stránky %1 × %2 bodů.")
                      .arg(paper.width())
                      .arg(paper.height()));
    m_d->paper = paper;
    m_d->origin = origin;
    m_d->inPage = true;
    m_d->startPageContent();
}

void PdfStream::text(int font, double pixelSize, int x, int baseline, int advance,
                     const QString& text)
{
    if (!m_d->inPage || text.isEmpty() || font < 0 || size_t(font) >= m_d->fonts.size() ||
        !(pixelSize > 0) || !std::isfinite(pixelSize))
        return;
    Private::Font& f = m_d->fonts[size_t(font)];
    f.used = true;

    // Glyph ids; the first character a glyph is drawn for becomes its text.
    std::vector<quint16>& glyphs = m_d->glyphs;
    glyphs.clear();
    bool irregular = false;
    const QChar* chars = text.constData();
    const qsizetype count = text.size();
    for (qsizetype i = 0; i < count; ++i) {
        char32_t c = chars[i].unicode();
        quint16 glyph;
        if (QChar::isSurrogate(c)) {
            if (QChar::isHighSurrogate(c) && i + 1 < count && chars[i + 1].isLowSurrogate()) {
                c = QChar::surrogateToUcs4(char16_t(c), chars[++i].unicode());
                glyph = f.glyph(c);
            } else {
                c = 0xFFFD;
                glyph = 0;
            }
        } else {
            glyph = f.glyphOf[c];
            if (glyph == kUnknownGlyph)
                glyph = f.glyphOf[c] = f.glyph(c);
        }
        char32_t& unicode = f.unicodeOf[glyph];
        if (!unicode)
            unicode = glyph == 0 || c == 0 ? char32_t(0xFFFD) : c;
        irregular = irregular || f.widths[glyph] != f.baseWidth;
        glyphs.push_back(glyph);
    }

    Bytes& out = m_d->content;
    out.raw("BT ");
    if (font != m_d->pageFont || pixelSize != m_d->pageSize) {
        out.raw("/F").num(font).raw(" ").real(pixelSize).raw(" Tf ");
        m_d->pageFont = font;
        m_d->pageSize = pixelSize;
    }
    // Every glyph advances its width plus the character spacing; the spacing makes that exactly
    // `advance`. A glyph wider or narrower than the rest is evened out in a TJ array.
    const double spacing = advance - f.baseWidth * pixelSize / 1000.0;
    if (spacing != m_d->pageSpacing) {
        out.real(spacing, 6).raw(" Tc ");
        m_d->pageSpacing = spacing;
    }
    out.raw("1 0 0 -1 ").num(x).raw(" ").num(baseline).raw(" Tm ");
    if (!irregular) {
        out.raw("(");
        for (const quint16 glyph : glyphs)
            out.glyph2(glyph);
        out.raw(")Tj ET\n");
        return;
    }
    out.raw("[(");
    for (size_t i = 0; i < glyphs.size(); ++i) {
        out.glyph2(glyphs[i]);
        const int excess = f.widths[glyphs[i]] - f.baseWidth;
        if (excess != 0 && i + 1 < glyphs.size())
            out.raw(")").num(excess).raw("(");
    }
    out.raw(")]TJ ET\n");
}

void PdfStream::fillRect(const QRect& rect, bool white)
{
    if (!m_d->inPage || rect.isEmpty())
        return;
    Bytes& out = m_d->content;
    if (white)
        out.raw("1 g ");
    out.num(rect.x())
        .raw(" ")
        .num(rect.y())
        .raw(" ")
        .num(rect.width())
        .raw(" ")
        .num(rect.height())
        .raw(white ? " re f 0 g\n" : " re f\n");
}

void PdfStream::setLineWidth(int width)
{
    m_d->lineWidth = std::max(0, width);
    if (m_d->inPage)
        m_d->content.num(m_d->lineWidth).raw(" w\n");
}

void PdfStream::polyline(const QList<QPoint>& points)
{
    if (!m_d->inPage || points.size() < 2)
        return;
    Bytes& out = m_d->content;
    for (qsizetype i = 0; i < points.size(); ++i)
        out.num(points[i].x()).raw(" ").num(points[i].y()).raw(i == 0 ? " m " : " l ");
    out.raw("S\n");
}

bool PdfStream::endPage(QString& error)
{
    if (!m_d->inPage) {
        error =
            m_d->failed() ? m_d->error : QStringLiteral("Stránka dokumentu PDF nebyla zahájena.");
        return false;
    }
    m_d->inPage = false;
    if (!m_d->failed() && m_d->compress(m_d->content.s, m_d->packed, m_d->deflater)) {
        const int content = m_d->newObject();
        const int page = m_d->newObject();
        m_d->writeStream(content, m_d->packed);
        m_d->beginObject(page)
            .raw("<</Type/Page/Parent ")
            .ref(kPages)
            .raw("/MediaBox[0 0 ")
            .real(m_d->paper.width())
            .raw(" ")
            .real(m_d->paper.height())
            .raw("]/Resources ")
            .ref(kResources)
            .raw("/Contents ")
            .ref(content)
            .raw(">>");
        m_d->endObject();
        m_d->pages.push_back(page);
    }
    if (m_d->failed()) {
        error = m_d->error;
        return false;
    }
    return true;
}

bool PdfStream::close(QString& error)
{
    if (!m_d->open) {
        error = QStringLiteral("Dokument PDF není otevřen.");
        return false;
    }
    QString ignored;
    if (m_d->inPage)
        endPage(ignored);
    // A document needs a page; one without any gets a blank A4 page.
    if (m_d->pages.empty() && !m_d->failed()) {
        beginPage(QSizeF(kA4Width, kA4Height), QPointF());
        endPage(ignored);
    }

    Bytes resources;
    resources.raw("<</Font<<");
    for (size_t i = 0; i < m_d->fonts.size() && !m_d->failed(); ++i) {
        if (m_d->fonts[i].used)
            resources.raw("/F").num(qint64(i)).raw(" ").ref(m_d->writeFont(m_d->fonts[i]));
    }
    resources.raw(">>/ProcSet[/PDF/Text]>>");
    m_d->beginObject(kResources).raw(resources.s);
    m_d->endObject();

    m_d->beginObject(kPages)
        .raw("<</Type/Pages/Count ")
        .num(qint64(m_d->pages.size()))
        .raw("/Kids[");
    for (size_t i = 0; i < m_d->pages.size(); ++i) {
        m_d->out.ref(m_d->pages[i]).raw((i + 1) % 10 ? " " : "\n");
        m_d->flushIfFull();
    }
    m_d->out.raw("]>>");
    m_d->endObject();

    m_d->beginObject(kCatalog).raw("<</Type/Catalog/Pages ").ref(kPages).raw(">>");
    m_d->endObject();

    const int info = m_d->newObject();
    m_d->writeInfo(info);
    if (m_d->position() > 9999999999LL)
        m_d->fail(QStringLiteral("Dokument PDF %1 je příliš velký.").arg(m_d->file.fileName()));
    m_d->writeTrailer(info);
    m_d->flush();

    if (!m_d->failed()) {
        m_d->file.close();
        if (m_d->file.error() != QFileDevice::NoError)
            m_d->fail(ioError(m_d->file.fileName(), m_d->file.errorString()));
    }
    if (m_d->failed()) {
        error = m_d->error;
        discard();
        return false;
    }
    m_d->open = false;
    m_d->resetDocument();
    return true;
}

void PdfStream::discard()
{
    if (!m_d->open)
        return;
    m_d->file.close();
    // Only a regular file is removed: a document written into a pipe or device leaves it be.
    if (QFileInfo(m_d->file.fileName()).isFile())
        m_d->file.remove();
    m_d->open = false;
    m_d->resetDocument();
}

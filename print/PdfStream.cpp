#include "print/PdfStream.h"

#include "core/platform/FileName.h"
#include "print/TrueTypeFont.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <fontconfig/fontconfig.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// Page contents are mostly the report's own text, one byte a character, with few operators
// around it. Level 4, the first that looks for better matches, makes them 7 % smaller than the
// fastest level at about the same cost; the default level gains 2 % more at a third more time.
constexpr int kContentLevel = 4;
// Much of the text is digits, which short matches code worse than literals do; the filtered
// strategy takes only longer matches, and makes pages 3 % smaller at about the same cost.
constexpr int kContentStrategy = Z_FILTERED;
// Fonts and character maps are written once per document; they get the default level.
constexpr int kFontLevel = Z_DEFAULT_COMPRESSION;
// Objects that are not streams (pages, font dictionaries, the catalog) go into compressed object
// streams of this many.
constexpr int kObjectsPerStream = 200;
// Content drawn again, the same, on the next page (the frame of a table, a page heading) goes
// into a form that every page draws, when it is at least this many bytes; forms are made until
// their keys take kMaxFormKeys bytes.
constexpr size_t kMinShared = 48;
constexpr size_t kMaxFormKeys = 4 * 1024 * 1024;
// Bytes gathered before they are handed to the file.
constexpr size_t kFlushSize = 256 * 1024;
// Object numbers reserved when a document is opened.
constexpr int kCatalog = 1;
constexpr int kPages = 2;
constexpr int kResources = 3;
// Marks a character whose glyph has not been looked up yet; no font has 65536 glyphs.
constexpr quint16 kUnknownGlyph = 0xFFFF;
// Marks a glyph that has no code in the document yet.
constexpr quint32 kNoCode = 0xFFFFFFFF;
// Codes a PDF font of the document gives out: 1 to 255 (a font with more glyphs in use gets
// further PDF fonts).
constexpr int kCodesPerFont = 255;
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
    // Bytes of a literal string, escaped where the string syntax needs it; the runs between
    // such bytes are copied whole.
    Bytes& literal(std::string_view text)
    {
        const auto plain = [](char c) {
            return c != '(' && c != ')' && c != '\\' && c != '\r';
        };
        for (auto from = text.begin(); from != text.end();) {
            const auto to = std::find_if_not(from, text.end(), plain);
            s.append(from, to);
            if (to == text.end())
                break;
            literalByte(uchar(*to));
            from = to + 1;
        }
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
    // A font added with addFont: its file, and the code each glyph the document uses has.
    struct Font : TrueTypeFont
    {
        FontFile file;
        std::vector<quint16> glyphOf; // glyph of each BMP character, looked up when first used
        std::vector<quint32> codeOf;  // of each glyph: PDF font << 8 | code; kNoCode while unused
        std::vector<int> pdfFonts;    // the PDF fonts of the document drawn from it
        bool spaceIsBlank = false;    // the space glyph draws nothing and is as wide as the rest
    };
    // A simple PDF font: up to 255 glyphs of one font, each under a one-byte code, so that the
    // text strings of a page take a byte a character.
    struct PdfFont
    {
        int font = 0;
        int count = 0;
        int cursor = 0; // into kFreeCodes: the codes before it are taken
        quint16 glyphOf[256] = {};
        char32_t unicodeOf[256] = {}; // 0: the code is free
        bool irregular[256] = {};     // the glyph is wider or narrower than the grid's cell
        TrueTypeFont::Box boxOf[256];
        // The glyph boxes at `scaledSize` device units, in half units from the cell's start
        // and the baseline (y down), rounded outwards; left > right for a glyph without ink.
        double scaledSize = 0;
        qint32 left[256], top[256], right[256], bottom[256];
        void scale(int code)
        {
            const TrueTypeFont::Box& box = boxOf[code];
            const double factor = 2 * scaledSize / 1000.0;
            // The boxes are rounded to 1/1000 em.
            const auto margin = qint32(std::ceil(factor)) + 1;
            left[code] = box.empty ? 1 : qint32(std::floor(box.xMin * factor)) - margin;
            right[code] = box.empty ? 0 : qint32(std::ceil(box.xMax * factor)) + margin;
            top[code] = -qint32(std::ceil(box.yMax * factor)) - margin;
            bottom[code] = -qint32(std::floor(box.yMin * factor)) + margin;
        }
    };
    // An area in half device units, so that half a line width is exact.
    struct Box
    {
        qint64 x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        bool empty() const { return x0 >= x1 || y0 >= y1; }
        bool intersects(const Box& o) const
        {
            return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1;
        }
        bool contains(const Box& o) const
        {
            return x0 <= o.x0 && o.x1 <= x1 && y0 <= o.y0 && o.y1 <= y1;
        }
        Box operator&(const Box& o) const
        {
            return {std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
        }
        // The smallest box that holds both.
        Box operator|(const Box& o) const
        {
            return {std::min(x0, o.x0), std::min(y0, o.y0), std::max(x1, o.x1), std::max(y1, o.y1)};
        }
    };
    // A drawing call of the open page. The page is written when it ends: black text, fills and
    // lines may then be gathered into few operators, and a white fill that changes nothing on
    // the page left out.
    struct Op
    {
        enum Kind : quint8
        {
            Text,
            Fill,
            Erase, // a white fill
            Line,
        };
        Kind kind = Text;
        bool irregular = false;     // Text: a glyph is wider or narrower than the grid's cell
        int pdfFont = 0;            // Text
        int width = 0;              // Line
        double size = 0;            // Text
        int x0 = 0, y0 = 0;         // Text: its first cell and baseline; Line: one end; a rectangle
        int x1 = 0, y1 = 0;         // Text: advance; Line: the other end; a rectangle's size
        quint32 begin = 0, end = 0; // Text: its codes in `codes`
        Box ink;                    // holds everything the call paints
        Box body;                   // lies within what it paints black
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
        objects.emplace_back();
        return int(objects.size() - 1);
    }
    Bytes& beginObject(int object)
    {
        objects[size_t(object)] = {position(), 0, 0};
        return out.num(object).raw(" 0 obj\n");
    }
    void endObject()
    {
        out.raw("\nendobj\n");
        flushIfFull();
    }
    // An object that is not a stream, gathered into the next object stream.
    Bytes& beginPacked(int object)
    {
        packedObjects.emplace_back(object, packedText.s.size());
        return packedText;
    }
    void endPacked()
    {
        packedText.raw("\n");
        if (packedObjects.size() >= size_t(kObjectsPerStream))
            writeObjectStream();
    }
    void writeObjectStream();
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
        objects.clear();
        objects.shrink_to_fit();
        packedText.s.clear();
        packedObjects.clear();
        seenBefore.clear();
        seenNow.clear();
        forms.clear();
        formObjects.clear();
        formKeyBytes = 0;
        pages.clear();
        pages.shrink_to_fit();
        written = 0;
        out.s.clear();
        error.clear();
        inPage = false;
        for (Font& font : fonts) {
            std::fill(font.codeOf.begin(), font.codeOf.end(), kNoCode);
            font.pdfFonts.clear();
        }
        pdfFonts.clear();
        pdfFonts.shrink_to_fit();
        ops.clear();
        codes.clear();
    }
    void startPageContent();
    quint32 codeFor(int font, quint16 glyph, char32_t c);
    void addOp(const Op& op) { ops.push_back(op); }
    void writePage();
    void writeBatch(const std::vector<int>& batch);
    void writeTexts(const std::vector<int>& batch);
    void writeText(Bytes& out, const Op& op, bool first);
    void writeStrokes(const std::vector<int>& batch, Bytes& out);
    Box inkOf(const std::vector<int>& batch, Op::Kind kind, size_t from, size_t to) const;
    int formFor(const std::string& key, const Box& ink, const std::function<void(Bytes&)>& draw);
    int writeFont(const PdfFont& pdfFont, int index);
    void writeInfo(int object);
    void writeTrailer(int info);

    const int resolution;
    QString title;
    QString creator;
    std::vector<Font> fonts;
    std::vector<PdfFont> pdfFonts;

    QFile file;
    Bytes out;          // bytes not yet handed to the file
    qint64 written = 0; // bytes handed to the file
    QString error;      // the first failure; nothing more is written after it
    bool open = false;
    // Where each object is, by number ([0] unused): its offset in the file, or the object stream
    // (> 0) and its index there.
    struct Location
    {
        qint64 offset = 0;
        int stream = 0;
        int index = 0;
    };
    std::vector<Location> objects;
    Bytes packedText;                                  // objects of the next object stream
    std::vector<std::pair<int, size_t>> packedObjects; // their numbers and offsets there
    std::vector<int> pages;                            // page object numbers

    bool inPage = false;
    QSizeF paper;
    QSizeF firstPaper;
    QPointF origin;
    Bytes content;      // of the open page
    std::string packed; // its compressed form
    z_stream deflater{};
    bool deflaterReady = false;
    std::vector<quint32> cells;          // codes of one text() call
    std::vector<Op> ops;                 // of the open page
    std::string codes;                   // their text
    std::vector<std::vector<int>> bands; // ops by the strips of the page their ink reaches
    int lineWidth = 1;
    // What the content written so far has set; a form starts with nothing known.
    struct State
    {
        int font = -1;
        double size = -1;
        double spacing = 0;
        qint64 leading = 0;
        int width = -1;   // of lines
        qint64 lineX = 0; // start of the current line of text
        qint64 lineY = 0;
    };
    State state;
    // Keys of content drawn on the previous page and on the open one; forms by key.
    std::unordered_set<std::string> seenBefore, seenNow;
    std::unordered_map<std::string, int> forms;
    std::vector<int> formObjects; // by form
    size_t formKeyBytes = 0;
    // Scratch space of writePage.
    Bytes strokes;
    Bytes formBody;
    std::vector<int> textOps;
    std::vector<size_t> lineStarts;
    std::vector<std::string> lineKeys;
    std::vector<std::pair<quint64, quint64>> pieceOrder;
    struct Run
    {
        quint64 key;
        size_t start, count;
        bool sorted;
        int lastFrom;
    };
    std::vector<Run> runs;
    std::unordered_map<quint64, size_t> runOf;
    std::vector<size_t> pieceRuns, runOrder;
    std::vector<bool> repeated;
    std::string groupKey;
};

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
        .raw(" cm 1 J 1 j\n");
    state = State();
    std::swap(seenBefore, seenNow);
    seenNow.clear();
    ops.clear();
    codes.clear();
}

namespace {

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

} // namespace

// Decides which white fills change the page and writes the page's operators: between two
// white fills that stay, all black text in one text object, then the black fills, then one
// stroke per line width: in any order, as black on black looks the same.
//
// A white fill changes nothing where nothing was painted before it; where it covers earlier
// ink it changes nothing either if that part is painted black again afterwards, as a frame line
// drawn cell by cell is: the background of each text line covers the round end of the line
// above, and the line of its own cell paints it again.
void PdfStream::Private::writePage()
{
    // Strips of 1/8 inch, so that a fill is checked only against ink near it.
    const qint64 strip = std::max(2, resolution / 4);
    const qint64 height = qint64(std::ceil(paper.height() * resolution / 72.0)) * 2;
    const auto stripCount = size_t(std::clamp<qint64>(height / strip + 1, 1, 4096));
    const auto stripOf = [&](qint64 y) {
        return size_t(std::clamp<qint64>(floorDiv(y, strip), 0, qint64(stripCount) - 1));
    };
    if (bands.size() < stripCount)
        bands.resize(stripCount);
    for (auto& band : bands)
        band.clear();
    for (size_t i = 0; i < ops.size(); ++i) {
        const Op& op = ops[i];
        if (op.kind == Op::Erase || op.ink.empty())
            continue;
        for (size_t b = stripOf(op.ink.y0); b <= stripOf(op.ink.y1 - 1); ++b)
            bands[b].push_back(int(i));
    }
    // Whether ink op k > after paints all of `area` black.
    const auto paintedAgain = [&](const Box& area, int after) {
        for (size_t b = stripOf(area.y0); b <= stripOf(area.y1 - 1); ++b) {
            for (const int k : bands[b]) {
                if (k > after && ops[size_t(k)].body.contains(area))
                    return true;
            }
        }
        return false;
    };
    const auto needed = [&](int i) {
        const Box& r = ops[size_t(i)].ink;
        for (size_t b = stripOf(r.y0); b <= stripOf(r.y1 - 1); ++b) {
            for (const int j : bands[b]) {
                if (j >= i)
                    break;
                const Box& ink = ops[size_t(j)].ink;
                if (ink.intersects(r) && !paintedAgain(ink & r, i))
                    return true;
            }
        }
        return false;
    };

    std::vector<int> batch;
    for (int i = 0; i < int(ops.size()); ++i) {
        const Op& op = ops[size_t(i)];
        if (op.kind != Op::Erase) {
            batch.push_back(i);
            continue;
        }
        if (op.ink.empty() || !needed(i))
            continue;
        writeBatch(batch);
        batch.clear();
        content.raw("1 g ")
            .num(op.x0)
            .raw(" ")
            .num(op.y0)
            .raw(" ")
            .num(op.x1)
            .raw(" ")
            .num(op.y1)
            .raw(" re f 0 g\n");
    }
    writeBatch(batch);
}

void PdfStream::Private::writeBatch(const std::vector<int>& batch)
{
    writeTexts(batch);

    // Each fill on its own: a reader makes a thin rectangle filled alone at least a pixel high
    // (an underline), which it does not do for one among several.
    for (const int i : batch) {
        const Op& op = ops[size_t(i)];
        if (op.kind == Op::Fill) {
            content.num(op.x0).raw(" ").num(op.y0).raw(" ").num(op.x1).raw(" ").num(op.y1).raw(
                " re f\n");
        }
    }

    // The lines, on their own so that they stand alone in a form (whose line width is its
    // own): with the key's mark ahead of them.
    const int width = state.width;
    state.width = -1;
    strokes.s.assign(1, 'L');
    writeStrokes(batch, strokes);
    const std::string_view lines(strokes.s.data() + 1, strokes.s.size() - 1);
    int form = -1;
    if (lines.size() >= kMinShared && seenBefore.count(strokes.s)) {
        form = formFor(strokes.s, inkOf(batch, Op::Line, 0, batch.size()),
                       [&](Bytes& body) { body.raw(lines); });
    }
    if (lines.size() >= kMinShared)
        seenNow.insert(strokes.s);
    if (form >= 0)
        content.raw("/X").num(form).raw(" Do\n");
    else
        content.raw(lines);
    if (form >= 0 || lines.empty())
        state.width = width;
}

PdfStream::Private::Box PdfStream::Private::inkOf(const std::vector<int>& batch, Op::Kind kind,
                                                  size_t from, size_t to) const
{
    Box box{LLONG_MAX, LLONG_MAX, LLONG_MIN, LLONG_MIN};
    for (size_t k = from; k < to; ++k) {
        const Op& op = ops[size_t(batch[k])];
        if (op.kind == kind && !op.ink.empty())
            box = box | op.ink;
    }
    return box.empty() ? Box() : box;
}

// A form of what `draw` writes, which the page then draws with one operator. It is made when
// first asked for: at that point nothing of the page's state is known to it. -1 when there
// may be no more forms.
int PdfStream::Private::formFor(const std::string& key, const Box& ink,
                                const std::function<void(Bytes&)>& draw)
{
    const auto found = forms.find(key);
    if (found != forms.end())
        return found->second;
    if (formKeyBytes + key.size() > kMaxFormKeys)
        return -1;
    const State saved = state;
    state = State();
    state.spacing = std::nan("");
    formBody.s.clear();
    draw(formBody);
    state = saved;
    std::string packedForm;
    if (!compress(formBody.s, packedForm, deflater))
        return -1;
    // The box clips what the form draws; a reader smooths the clip's edge where it crosses ink
    // (a line's round end, a glyph's smoothed edge), so it is kept well away from the ink.
    const qint64 margin = std::max(8, resolution / 8);
    Bytes dictionary;
    dictionary.raw("/Type/XObject/Subtype/Form/BBox[")
        .num(floorDiv(ink.x0, 2) - margin)
        .raw(" ")
        .num(floorDiv(ink.y0, 2) - margin)
        .raw(" ")
        .num(floorDiv(ink.x1 + 1, 2) + margin)
        .raw(" ")
        .num(floorDiv(ink.y1 + 1, 2) + margin)
        .raw("]/Resources ")
        .ref(kResources);
    const int object = newObject();
    writeStream(object, packedForm, dictionary.s);
    const int index = int(formObjects.size());
    formObjects.push_back(object);
    forms.emplace(key, index);
    formKeyBytes += key.size();
    return index;
}

// The text of a batch in lines: the calls on one baseline, one after the other. Lines drawn the
// same on the page before, one under the other, go into a form, the rest into text objects.
void PdfStream::Private::writeTexts(const std::vector<int>& batch)
{
    textOps.clear();
    for (const int i : batch) {
        if (ops[size_t(i)].kind == Op::Text)
            textOps.push_back(i);
    }
    lineStarts.clear();
    for (size_t k = 0; k < textOps.size(); ++k) {
        if (k == 0 || ops[size_t(textOps[k])].y0 != ops[size_t(textOps[k - 1])].y0)
            lineStarts.push_back(k);
    }
    const size_t lineCount = lineStarts.size();
    lineStarts.push_back(textOps.size());
    if (lineKeys.size() < lineCount)
        lineKeys.resize(lineCount);
    repeated.assign(lineCount, false);
    for (size_t l = 0; l < lineCount; ++l) {
        // A mark, the number of calls, and each call with the length of its text: keys of
        // lines one after the other tell apart every different sequence of calls.
        std::string& key = lineKeys[l];
        const qint64 calls = qint64(lineStarts[l + 1] - lineStarts[l]);
        key.assign(1, 'T');
        key.append(reinterpret_cast<const char*>(&calls), sizeof calls);
        for (size_t k = lineStarts[l]; k < lineStarts[l + 1]; ++k) {
            const Op& op = ops[size_t(textOps[k])];
            qint64 size = 0;
            std::memcpy(&size, &op.size, sizeof size);
            const qint64 fields[] = {op.pdfFont, size, op.x0, op.y0, op.x1, op.end - op.begin};
            key.append(reinterpret_cast<const char*>(fields), sizeof fields);
            key.append(codes, op.begin, op.end - op.begin);
        }
        repeated[l] = seenBefore.count(key) != 0;
        seenNow.insert(key);
    }

    bool open = false;
    bool first = true;
    const auto writeLines = [&](Bytes& out, size_t from, size_t to, bool& first) {
        for (size_t k = lineStarts[from]; k < lineStarts[to]; ++k) {
            writeText(out, ops[size_t(textOps[k])], first);
            first = false;
        }
    };
    for (size_t l = 0; l < lineCount;) {
        if (repeated[l]) {
            size_t end = l;
            size_t bytes = 0;
            groupKey.clear();
            for (; end < lineCount && repeated[end]; ++end) {
                groupKey += lineKeys[end];
                for (size_t k = lineStarts[end]; k < lineStarts[end + 1]; ++k)
                    bytes += ops[size_t(textOps[k])].end - ops[size_t(textOps[k])].begin;
            }
            int form = -1;
            if (bytes >= kMinShared) {
                form = formFor(groupKey, inkOf(textOps, Op::Text, lineStarts[l], lineStarts[end]),
                               [&](Bytes& body) {
                                   bool start = true;
                                   body.raw("BT");
                                   writeLines(body, l, end, start);
                                   body.raw("\nET\n");
                               });
            }
            if (form >= 0) {
                if (open)
                    content.raw("\nET\n");
                open = false;
                content.raw("/X").num(form).raw(" Do\n");
                l = end;
                continue;
            }
        }
        if (!open) {
            content.raw("BT");
            open = true;
            first = true;
        }
        writeLines(content, l, l + 1, first);
        ++l;
    }
    if (open)
        content.raw("\nET\n");
}

// Lines by width. Collinear pieces that touch or overlap are one piece: with round caps and
// joins the stroke of each is the same as the stroke of their union.
void PdfStream::Private::writeStrokes(const std::vector<int>& batch, Bytes& out)
{
    struct Piece
    {
        int group; // by line width, in the order of first use
        int width;
        int kind; // 0 horizontal, 1 vertical, 2 other
        int at;   // y of a horizontal, x of a vertical
        int from, to;
        int x0, y0, x1, y1;
    };
    std::vector<Piece> pieces;
    std::vector<int> widths;
    for (const int i : batch) {
        const Op& op = ops[size_t(i)];
        if (op.kind != Op::Line)
            continue;
        auto group = std::find(widths.begin(), widths.end(), op.width) - widths.begin();
        if (group == qsizetype(widths.size()))
            widths.push_back(op.width);
        const int g = int(group);
        Piece piece{g, op.width, 2, 0, 0, 0, op.x0, op.y0, op.x1, op.y1};
        if (op.y0 == op.y1 && op.x0 != op.x1)
            piece = {g, op.width, 0, op.y0, std::min(op.x0, op.x1), std::max(op.x0, op.x1),
                     0, 0,        0, 0};
        else if (op.x0 == op.x1 && op.y0 != op.y1)
            piece = {g, op.width, 1, op.x0, std::min(op.y0, op.y1), std::max(op.y0, op.y1),
                     0, 0,        0, 0};
        pieces.push_back(piece);
    }
    if (pieces.empty())
        return;
    // In the order of group, kind, position and start, by keys that compare as plain numbers.
    // A frame gives several hundred pieces a page, and those of one run (group, kind and
    // position) mostly come in the order of their start, the frame being drawn row by row: they
    // are gathered by run, and only a run out of order is sorted.
    const auto ordered = [](int value) {
        return quint64(quint32(value) ^ 0x80000000u);
    };
    runOf.clear();
    runs.clear();
    pieceRuns.resize(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Piece& p = pieces[i];
        const quint64 key = quint64(p.group) << 34 | quint64(p.kind) << 32 | ordered(p.at);
        const auto [at, added] = runOf.try_emplace(key, runs.size());
        if (added)
            runs.push_back({key, 0, 0, true, INT_MIN});
        Run& run = runs[at->second];
        run.sorted = run.sorted && p.from >= run.lastFrom;
        run.lastFrom = p.from;
        ++run.count;
        pieceRuns[i] = at->second;
    }
    runOrder.resize(runs.size());
    for (size_t r = 0; r < runs.size(); ++r)
        runOrder[r] = r;
    std::sort(runOrder.begin(), runOrder.end(),
              [&](size_t a, size_t b) { return runs[a].key < runs[b].key; });
    size_t start = 0;
    for (const size_t r : runOrder) {
        runs[r].start = start;
        start += runs[r].count;
        runs[r].count = 0;
    }
    std::vector<std::pair<quint64, quint64>>& order = pieceOrder;
    order.resize(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i) {
        Run& run = runs[pieceRuns[i]];
        order[run.start + run.count++] = {run.key, ordered(pieces[i].from) << 32 | i};
    }
    for (const Run& run : runs) {
        if (!run.sorted) {
            const auto from = order.begin() + qsizetype(run.start);
            std::sort(from, from + qsizetype(run.count));
        }
    }
    const auto piece = [&](size_t k) -> const Piece& {
        return pieces[order[k].second & 0xFFFFFFFF];
    };
    for (size_t i = 0; i < order.size();) {
        const int width = piece(i).width;
        if (width != state.width) {
            out.num(width).raw(" w\n");
            state.width = width;
        }
        for (; i < order.size() && piece(i).width == width; ++i) {
            Piece p = piece(i);
            if (p.kind == 2) {
                out.num(p.x0).raw(" ").num(p.y0).raw(" m ").num(p.x1).raw(" ").num(p.y1).raw(
                    " l\n");
                continue;
            }
            while (i + 1 < order.size() && piece(i + 1).width == width &&
                   piece(i + 1).kind == p.kind && piece(i + 1).at == p.at &&
                   piece(i + 1).from <= p.to) {
                p.to = std::max(p.to, piece(i + 1).to);
                ++i;
            }
            if (p.kind == 0)
                out.num(p.from).raw(" ").num(p.at).raw(" m ").num(p.to).raw(" ").num(p.at);
            else
                out.num(p.at).raw(" ").num(p.from).raw(" m ").num(p.at).raw(" ").num(p.to);
            out.raw(" l\n");
        }
        out.raw("S\n");
    }
}

void PdfStream::Private::writeText(Bytes& out, const Op& op, bool first)
{
    const Font& f = fonts[size_t(pdfFonts[size_t(op.pdfFont)].font)];
    if (op.pdfFont != state.font || op.size != state.size) {
        out.raw(" /F").num(op.pdfFont).raw(" ").real(op.size).raw(" Tf");
        state.font = op.pdfFont;
        state.size = op.size;
    }
    // Every glyph advances its width plus the character spacing; the spacing makes that exactly
    // the grid's advance. A glyph wider or narrower than the rest is evened out in a TJ array.
    const double spacing = op.x1 - f.baseWidth * op.size / 1000.0;
    if (spacing != state.spacing) {
        out.raw(" ").real(spacing, 6).raw(" Tc");
        state.spacing = spacing;
    }
    // The text space is turned upright (the page's y grows downwards), so a move down by d is
    // -d in text space. Lines one under the other take the leading.
    bool nextLine = false;
    if (first) {
        out.raw(" 1 0 0 -1 ").num(op.x0).raw(" ").num(op.y0).raw(" Tm");
    } else {
        const qint64 dx = op.x0 - state.lineX;
        const qint64 dy = op.y0 - state.lineY;
        if (dx == 0 && dy != 0 && dy == state.leading) {
            nextLine = true;
        } else if (dx == 0 && dy > 0) {
            out.raw("\n0 ").num(-dy).raw(" TD");
            state.leading = dy;
        } else {
            out.raw(" ").num(dx).raw(" ").num(-dy).raw(" Td");
        }
    }
    state.lineX = op.x0;
    state.lineY = op.y0;
    const std::string_view text(codes.data() + op.begin, op.end - op.begin);
    if (!op.irregular) {
        out.raw(nextLine ? "\n(" : "(");
        out.literal(text);
        out.raw(nextLine ? ")'" : ")Tj");
        return;
    }
    const PdfFont& p = pdfFonts[size_t(op.pdfFont)];
    out.raw(nextLine ? "\nT*[(" : "[(");
    for (size_t i = 0; i < text.size(); ++i) {
        out.literalByte(uchar(text[i]));
        const int excess = f.widths[p.glyphOf[uchar(text[i])]] - f.baseWidth;
        if (excess != 0 && i + 1 < text.size())
            out.raw(")").num(excess).raw("(");
    }
    out.raw(")]TJ");
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

void PdfStream::Private::writeInfo(int object)
{
    const QDateTime now = QDateTime::currentDateTime();
    const int offset = now.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    const QString date = now.toString(QStringLiteral("yyyyMMddHHmmss")) %
                         (offset < 0 ? u'-' : u'+') %
                         QString::number(minutes / 60).rightJustified(2, u'0') % u'\'' %
                         QString::number(minutes % 60).rightJustified(2, u'0') % u'\'';
    Bytes& info = beginPacked(object);
    info.raw("<<");
    if (!title.isEmpty())
        info.raw("/Title").textString(title);
    if (!creator.isEmpty())
        info.raw("/Creator").textString(creator);
    info.raw("/Producer(Tarnyx " TARNYX_VERSION_STRING ")/CreationDate(D:")
        .raw(date.toLatin1().constData())
        .raw(")>>");
    endPacked();
}

void PdfStream::Private::writeObjectStream()
{
    if (packedObjects.empty())
        return;
    const int stream = newObject();
    Bytes data;
    for (size_t k = 0; k < packedObjects.size(); ++k) {
        data.num(packedObjects[k].first).raw(" ").num(qint64(packedObjects[k].second)).raw(" ");
        objects[size_t(packedObjects[k].first)] = {0, stream, int(k)};
    }
    Bytes dictionary;
    dictionary.raw("/Type/ObjStm/N ")
        .num(qint64(packedObjects.size()))
        .raw("/First ")
        .num(qint64(data.s.size()));
    data.raw(packedText.s);
    packedText.s.clear();
    packedObjects.clear();
    writeCompressed(stream, data.s, kFontLevel, dictionary.s);
}

// The cross-reference stream: a row of type, offset or object stream, and generation or index
// for every object, each row taken from the one above (the PNG "up" predictor), so that the
// rising offsets compress well.
void PdfStream::Private::writeTrailer(int info)
{
    writeObjectStream();
    const int self = newObject();
    const qint64 xref = position();
    objects[size_t(self)] = {xref, 0, 0};
    int offsetBytes = 1;
    while (offsetBytes < 8 && (std::max<qint64>(xref, qint64(objects.size())) >> (8 * offsetBytes)))
        ++offsetBytes;
    const size_t columns = size_t(offsetBytes) + 3;
    std::string rows;
    rows.reserve(objects.size() * (columns + 1));
    std::vector<quint8> previous(columns, 0);
    std::vector<quint8> row(columns);
    for (size_t i = 0; i < objects.size(); ++i) {
        const Location& at = objects[i];
        const qint64 second = i == 0 ? 0 : at.stream > 0 ? at.stream : at.offset;
        const int third = i == 0 ? 0xFFFF : at.index;
        row[0] = i == 0 ? 0 : at.stream > 0 ? 2 : 1;
        for (int k = 0; k < offsetBytes; ++k)
            row[size_t(1 + k)] = quint8(second >> (8 * (offsetBytes - 1 - k)));
        row[columns - 2] = quint8(third >> 8);
        row[columns - 1] = quint8(third);
        rows += char(2);
        for (size_t k = 0; k < columns; ++k)
            rows += char(quint8(row[k] - previous[k]));
        std::swap(row, previous);
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(file.fileName().toUtf8());
    hash.addData(QByteArray::number(QDateTime::currentMSecsSinceEpoch()));
    hash.addData(QByteArray::number(xref));
    const QByteArray id = hash.result().toHex().toUpper();
    Bytes dictionary;
    dictionary.raw("/Type/XRef/Size ")
        .num(qint64(objects.size()))
        .raw("/W[1 ")
        .num(offsetBytes)
        .raw(" 2]/Root ")
        .ref(kCatalog)
        .raw("/Info ")
        .ref(info)
        .raw("/ID[<")
        .raw(id.constData())
        .raw("><")
        .raw(id.constData())
        .raw(">]/DecodeParms<</Columns ")
        .num(qint64(columns))
        .raw("/Predictor 12>>");
    writeCompressed(self, rows, kFontLevel, dictionary.s);
    out.raw("startxref\n").num(xref).raw("\n%%EOF\n");
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
        if (deflateInit2(&m_d->deflater, kContentLevel, Z_DEFLATED, 15, 8, kContentStrategy) !=
            Z_OK) {
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
    m_d->out.raw("%PDF-1.5\n%\xE2\xE3\xCF\xD3\n");
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

    // The code of each cell; the first character a glyph is drawn for becomes its text. A blank
    // needs no glyph: where the font's space draws nothing it stays in the text (a byte is less
    // than a move), else the text is cut around it. Blanks at either end are left out.
    constexpr quint32 kBlank = kNoCode;
    std::vector<quint32>& cells = m_d->cells;
    const QChar* chars = text.constData();
    const qsizetype count = text.size();
    cells.resize(size_t(count));
    quint32* cell = cells.data();
    size_t first = SIZE_MAX;
    size_t last = 0;
    size_t n = 0;
    for (qsizetype i = 0; i < count; ++i) {
        char32_t c = chars[i].unicode();
        if (c == u' ') {
            cell[n++] = kBlank;
            continue;
        }
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
        first = std::min(first, n);
        last = n + 1;
        const quint32 code = f.codeOf[glyph];
        cell[n++] = code != kNoCode ? code : m_d->codeFor(font, glyph, c);
    }
    if (first == SIZE_MAX)
        return;
    if (f.spaceIsBlank) {
        if (f.glyphOf[u' '] == kUnknownGlyph)
            f.glyphOf[u' '] = f.glyph(U' ');
        quint32 space = kNoCode;
        for (size_t i = first; i < last; ++i) {
            if (cell[i] == kBlank) {
                if (space == kNoCode)
                    space = m_d->codeFor(font, f.glyphOf[u' '], U' ');
                cell[i] = space;
            }
        }
    }

    // Pieces of one PDF font without blanks between them.
    for (size_t i = first; i < last;) {
        if (cell[i] == kBlank) {
            ++i;
            continue;
        }
        const int pdfFont = int(cell[i] >> 8);
        Private::Op op;
        op.kind = Private::Op::Text;
        op.pdfFont = pdfFont;
        op.size = pixelSize;
        op.x0 = x + int(i) * advance;
        op.y0 = baseline;
        op.x1 = advance;
        op.begin = quint32(m_d->codes.size());
        Private::PdfFont& p = m_d->pdfFonts[size_t(pdfFont)];
        if (p.scaledSize != pixelSize) {
            p.scaledSize = pixelSize;
            for (int code = 0; code < 256; ++code)
                p.scale(code);
        }
        size_t end = i;
        while (end < last && cell[end] != kBlank && int(cell[end] >> 8) == pdfFont)
            ++end;
        const size_t from = m_d->codes.size();
        m_d->codes.resize(from + (end - i));
        char* out = m_d->codes.data() + from;
        // The ink lies within the boxes of its glyphs: across from the first inked cell to the
        // last, down as far as the deepest glyph.
        qint64 left = LLONG_MAX;
        qint64 right = LLONG_MIN;
        qint32 top = INT32_MAX;
        qint32 bottom = INT32_MIN;
        bool irregular = false;
        for (size_t k = i; k < end; ++k) {
            const auto code = quint8(cell[k] & 0xFF);
            *out++ = char(code);
            irregular = irregular || p.irregular[code];
            if (p.left[code] > p.right[code])
                continue;
            const qint64 start = 2 * (qint64(op.x0) + qint64(k - i) * advance);
            left = std::min(left, start + p.left[code]);
            right = std::max(right, start + p.right[code]);
            top = std::min(top, p.top[code]);
            bottom = std::max(bottom, p.bottom[code]);
        }
        i = end;
        op.irregular = irregular;
        op.end = quint32(m_d->codes.size());
        if (left <= right)
            op.ink = {left, 2 * qint64(baseline) + top, right, 2 * qint64(baseline) + bottom};
        m_d->addOp(op);
    }
}

void PdfStream::fillRect(const QRect& rect, bool white)
{
    if (!m_d->inPage || rect.isEmpty())
        return;
    Private::Op op;
    op.kind = white ? Private::Op::Erase : Private::Op::Fill;
    op.x0 = rect.x();
    op.y0 = rect.y();
    op.x1 = rect.width();
    op.y1 = rect.height();
    op.ink = {2 * qint64(rect.x()), 2 * qint64(rect.y()), 2 * (qint64(rect.x()) + rect.width()),
              2 * (qint64(rect.y()) + rect.height())};
    if (!white)
        op.body = op.ink;
    m_d->addOp(op);
}

void PdfStream::setLineWidth(int width)
{
    m_d->lineWidth = std::max(0, width);
}

namespace {

// Widens the span s0..s1 (either way round) to take in a..b when the two overlap or touch; it
// then runs from its low end to its high end.
bool joinSpan(int& s0, int& s1, int a, int b)
{
    const int from = std::min(s0, s1);
    const int to = std::max(s0, s1);
    if (std::min(a, b) > to || std::max(a, b) < from)
        return false;
    s0 = std::min(from, std::min(a, b));
    s1 = std::max(to, std::max(a, b));
    return true;
}

} // namespace

void PdfStream::polyline(const QList<QPoint>& points)
{
    polyline(points.constData(), points.size());
}

void PdfStream::polyline(const QPoint* points, qsizetype count)
{
    if (!m_d->inPage || count < 2)
        return;
    // A line through several points is its pieces: with round joins and caps they paint the
    // same. A line of no width still paints the thinnest line a device can.
    const qint64 w = std::max(1, m_d->lineWidth);
    for (qsizetype i = 1; i < count; ++i) {
        const QPoint a = points[i - 1];
        const QPoint b = points[i];
        Private::Op op;
        op.kind = Private::Op::Line;
        op.width = m_d->lineWidth;
        op.x0 = a.x();
        op.y0 = a.y();
        op.x1 = b.x();
        op.y1 = b.y();
        const qint64 x0 = 2 * qint64(std::min(a.x(), b.x()));
        const qint64 x1 = 2 * qint64(std::max(a.x(), b.x()));
        const qint64 y0 = 2 * qint64(std::min(a.y(), b.y()));
        const qint64 y1 = 2 * qint64(std::max(a.y(), b.y()));
        op.ink = {x0 - w, y0 - w, x1 + w, y1 + w};
        const bool horizontal = a.y() == b.y() && a.x() != b.x();
        const bool vertical = a.x() == b.x() && a.y() != b.y();
        if (horizontal)
            op.body = {x0, y0 - m_d->lineWidth, x1, y1 + m_d->lineWidth};
        else if (vertical)
            op.body = {x0 - m_d->lineWidth, y0, x1 + m_d->lineWidth, y1};
        // A piece that continues one of the last few lines of the same width (a frame line
        // drawn cell by cell) lengthens that line: the union of the two is one line.
        bool joined = false;
        std::vector<Private::Op>& ops = m_d->ops;
        for (size_t j = ops.size(); !joined && (horizontal || vertical) && j > 0 &&
                                    j + 4 > ops.size() && ops[j - 1].kind == Private::Op::Line;
             --j) {
            Private::Op& line = ops[j - 1];
            if (line.width != op.width)
                continue;
            if (horizontal && line.y0 == a.y() && line.y1 == a.y() && line.x0 != line.x1)
                joined = joinSpan(line.x0, line.x1, a.x(), b.x());
            else if (vertical && line.x0 == a.x() && line.x1 == a.x() && line.y0 != line.y1)
                joined = joinSpan(line.y0, line.y1, a.y(), b.y());
            if (joined) {
                line.ink = line.ink | op.ink;
                line.body = line.body | op.body;
            }
        }
        if (!joined)
            m_d->addOp(op);
    }
}

bool PdfStream::endPage(QString& error)
{
    if (!m_d->inPage) {
        error =
            m_d->failed() ? m_d->error : QStringLiteral("Stránka dokumentu PDF nebyla zahájena.");
        return false;
    }
    m_d->inPage = false;
    if (!m_d->failed())
        m_d->writePage();
    if (!m_d->failed() && m_d->compress(m_d->content.s, m_d->packed, m_d->deflater)) {
        const int content = m_d->newObject();
        const int page = m_d->newObject();
        m_d->writeStream(content, m_d->packed);
        // The paper of the first page and the resources are given once, in the page tree,
        // for every page that does not say otherwise.
        if (m_d->pages.empty())
            m_d->firstPaper = m_d->paper;
        Bytes& object = m_d->beginPacked(page).raw("<</Type/Page/Parent ").ref(kPages);
        if (m_d->paper != m_d->firstPaper) {
            object.raw("/MediaBox[0 0 ")
                .real(m_d->paper.width())
                .raw(" ")
                .real(m_d->paper.height())
                .raw("]");
        }
        object.raw("/Contents ").ref(content).raw(">>");
        m_d->endPacked();
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
    for (size_t i = 0; i < m_d->pdfFonts.size() && !m_d->failed(); ++i) {
        resources.raw("/F").num(qint64(i)).raw(" ").ref(m_d->writeFont(m_d->pdfFonts[i], int(i)));
    }
    resources.raw(">>");
    if (!m_d->formObjects.empty()) {
        resources.raw("/XObject<<");
        for (size_t i = 0; i < m_d->formObjects.size(); ++i)
            resources.raw("/X").num(qint64(i)).raw(" ").ref(m_d->formObjects[i]);
        resources.raw(">>");
    }
    resources.raw("/ProcSet[/PDF/Text]>>");
    m_d->beginPacked(kResources).raw(resources.s);
    m_d->endPacked();

    m_d->beginPacked(kPages)
        .raw("<</Type/Pages/MediaBox[0 0 ")
        .real(m_d->firstPaper.width())
        .raw(" ")
        .real(m_d->firstPaper.height())
        .raw("]/Resources ")
        .ref(kResources)
        .raw("/Count ")
        .num(qint64(m_d->pages.size()))
        .raw("/Kids[");
    for (size_t i = 0; i < m_d->pages.size(); ++i)
        m_d->packedText.ref(m_d->pages[i]).raw((i + 1) % 10 ? " " : "\n");
    m_d->packedText.raw("]>>");
    m_d->endPacked();

    // The catalog stays outside the object streams: a reader that has to rebuild the cross
    // references (a print driver puts its commands ahead of the file, so the offsets are off)
    // finds it by scanning the file, and the rest through it.
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

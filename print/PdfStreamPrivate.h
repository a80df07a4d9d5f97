#pragma once

// What the source files of the PDF writer share: the limits it works to, the token writer (Bytes)
// and the writer's state (PdfStream::Private). Their small functions that run for every character,
// operator or object are defined here, so that every source file can inline them.

#include "print/PdfStream.h"
#include "print/TrueTypeFont.h"

#include <QFile>
#include <QPointF>
#include <QSizeF>
#include <QString>

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace pdf {

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
    Bytes& real(double value, int decimals = 4);
    Bytes& ref(int object) { return num(object).raw(" 0 R"); }
    Bytes& hex4(unsigned value);
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
    Bytes& textString(const QString& text);
};

} // namespace pdf

struct PdfStream::Private
{
    using Bytes = pdf::Bytes;

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
    void flush();
    void flushIfFull()
    {
        if (out.s.size() >= pdf::kFlushSize)
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
        if (packedObjects.size() >= size_t(pdf::kObjectsPerStream))
            writeObjectStream();
    }
    void writeObjectStream();
    // A stream object whose data is already compressed.
    void writeStream(int object, std::string_view data, std::string_view dictionary = {});
    bool compress(std::string_view data, std::string& result, z_stream& stream);
    void writeCompressed(int object, std::string_view data, int level,
                         std::string_view dictionary = {});

    // Document --------------------------------------------------------------------------------
    void resetDocument();
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

// The PDF writer's pages: the drawing calls of a page and its content, with what repeats from one
// page to the next in shared forms.
#include "print/PdfStreamPrivate.h"

#include <climits>
#include <cstring>

using namespace pdf;

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

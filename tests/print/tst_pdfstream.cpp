#include "print/PdfStream.h"
#include "print/TrueTypeFont.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

// Documents are written at 720 units per inch: a point is 10 units. The 9-point font (90 units)
// is set on a 6-point grid (60 units), wider than its glyphs (54 units), so that text is only
// on the grid when the character spacing is right.
constexpr int kResolution = 720;
constexpr double kSize = 90;
constexpr int kAdvance = 60;
const QSizeF kA4(595.28, 841.89);
const QPointF kMargin(36, 36); // the printable area starts 6 grid columns in

const QString kCzech = QStringLiteral("ěščřžýáíéůúťďň ĚŠČŘŽÝÁÍÉŮÚŤĎŇ");

// Runs a poppler tool; fails the test when it reports anything on stderr (damaged file).
QString poppler(const QString& tool, const QStringList& arguments)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QStringLiteral("<%1 failed>").arg(tool);
    const QByteArray complaints = process.readAllStandardError();
    if (!complaints.isEmpty())
        return QStringLiteral("<%1: %2>").arg(tool, QString::fromUtf8(complaints));
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString pageText(const QString& path, int page)
{
    const QString number = QString::number(page);
    return poppler(QStringLiteral("pdftotext"),
                   {QStringLiteral("-layout"), QStringLiteral("-fixed"), QStringLiteral("6"),
                    QStringLiteral("-f"), number, QStringLiteral("-l"), number, path,
                    QStringLiteral("-")});
}

// Left edges (points) of the words pdftotext finds on page 1, by word.
QMultiMap<QString, double> wordPositions(const QString& path)
{
    const QString html =
        poppler(QStringLiteral("pdftotext"),
                {QStringLiteral("-bbox"), QStringLiteral("-f"), QStringLiteral("1"),
                 QStringLiteral("-l"), QStringLiteral("1"), path, QStringLiteral("-")});
    QMultiMap<QString, double> words;
    static const QRegularExpression word(QStringLiteral("<word xMin=\"([0-9.]+)\"[^>]*>([^<]*)<"));
    for (const QRegularExpressionMatch& m : word.globalMatch(html))
        words.insert(m.captured(2), m.captured(1).toDouble());
    return words;
}

// Page 1 rendered at 72 dpi (a pixel a point), in grey levels; empty when it fails.
struct Grey
{
    int width = 0;
    int height = 0;
    QByteArray pixels;
    int at(int x, int y) const { return uchar(pixels[y * width + x]); }
};

Grey render(const QString& path)
{
    QProcess process;
    process.start(QStringLiteral("pdftoppm"),
                  {QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-gray"),
                   QStringLiteral("-aa"), QStringLiteral("no"), QStringLiteral("-aaVector"),
                   QStringLiteral("no"), QStringLiteral("-singlefile"), path});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    const QByteArray pgm = process.readAllStandardOutput();
    static const QRegularExpression header(QStringLiteral("^P5\\s+(\\d+)\\s+(\\d+)\\s+255\\s"));
    const QRegularExpressionMatch m = header.match(QString::fromLatin1(pgm.left(40)));
    Grey grey;
    if (!m.hasMatch())
        return grey;
    grey.width = m.captured(1).toInt();
    grey.height = m.captured(2).toInt();
    grey.pixels = pgm.mid(m.capturedLength());
    if (grey.pixels.size() != qsizetype(grey.width) * grey.height)
        return {};
    return grey;
}

qint64 peakMemoryKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    static const QRegularExpression hwm(QStringLiteral("VmHWM:\\s+(\\d+)"));
    return hwm.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

PdfStream::FontFile mono(bool bold)
{
    return PdfStream::findFontFile(QStringLiteral("Courier New"), bold, false)
        .value_or(PdfStream::FontFile());
}

// The same font as a one-face collection: a collection header ahead of the font, whose table
// offsets then count from the start of the collection.
QByteArray asCollection(QByteArray font)
{
    const int tables = (uchar(font[4]) << 8) | uchar(font[5]);
    for (int i = 0; i < tables; ++i) {
        uchar* offset = reinterpret_cast<uchar*>(font.data()) + 12 + i * 16 + 8;
        const quint32 moved =
            ((quint32(offset[0]) << 24) | (offset[1] << 16) | (offset[2] << 8) | offset[3]) + 16;
        for (int k = 0; k < 4; ++k)
            offset[k] = uchar(moved >> (24 - 8 * k));
    }
    return QByteArray("ttcf\0\1\0\0\0\0\0\1\0\0\0\x10", 16) + font;
}

// The text of a one-page document that prints "ABC Řádek" with `font` of `pdf` into `path`;
// empty when the document cannot be made.
QString printedLine(PdfStream& pdf, int font, const QString& path)
{
    QString error;
    if (font < 0 || !pdf.open(path, error))
        return {};
    pdf.beginPage(kA4, QPointF());
    pdf.text(font, kSize, 0, 100, kAdvance, QStringLiteral("ABC Řádek"));
    return pdf.close(error) ? pageText(path, 1) : error;
}

} // namespace

class TestPdfStream : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(mono(false).path.endsWith(QLatin1String("LiberationMono-Regular.ttf")),
                 qPrintable(mono(false).path));
        QVERIFY(mono(true).path.endsWith(QLatin1String("LiberationMono-Bold.ttf")));
    }

    // Three pages with Czech text in two fonts, fills and frames: page count, sizes, title,
    // embedded fonts, and the text on the right page in the right columns.
    void document()
    {
        const QString path = m_dir.filePath(QStringLiteral("report.pdf"));
        PdfStream pdf(kResolution);
        QString error;
        QVERIFY2(pdf.open(path, error), qPrintable(error));
        pdf.setInfo(QStringLiteral("Výplatní listina – říjen"), QStringLiteral("Tarnyx test"));
        const int regular = pdf.addFont(mono(false));
        const int bold = pdf.addFont(mono(true));
        QVERIFY(regular >= 0 && bold >= 0 && regular != bold);
        QCOMPARE(pdf.addFont(mono(false)), regular);

        const PdfStream::Metrics metrics = pdf.metrics(regular, kSize);
        QVERIFY(qAbs(metrics.advance - 54) < 0.1);
        QVERIFY(metrics.ascent > 60 && metrics.ascent < 90);
        QVERIFY(metrics.descent > 10 && metrics.descent < 40);
        QVERIFY(metrics.lineThickness > 0);

        const auto line = [&](int font, int column, int row, const QString& text) {
            pdf.text(font, kSize, column * kAdvance, 100 + row * 120, kAdvance, text);
        };
        pdf.beginPage(kA4, kMargin);
        pdf.setLineWidth(3);
        line(bold, 0, 0, QStringLiteral("Mzda"));
        line(regular, 20, 0, QStringLiteral("Částka"));
        line(regular, 0, 1, kCzech);
        line(regular, 0, 2, QString());
        pdf.fillRect(QRect(0, 0, 600, 130), true);
        pdf.fillRect(QRect(0, 500, 6000, 5), false);
        pdf.polyline({QPoint(0, 0), QPoint(6000, 0), QPoint(6000, 3000), QPoint(0, 0)});
        QVERIFY2(pdf.endPage(error), qPrintable(error));

        pdf.beginPage(kA4, kMargin);
        line(bold, 3, 0, QStringLiteral("Srážky"));
        QVERIFY2(pdf.endPage(error), qPrintable(error));

        // A glyph the font lacks and a character outside the BMP each still take one cell.
        pdf.beginPage(kA4.transposed(), kMargin);
        line(regular, 0, 0, QStringLiteral("a\u6f22b c\U0001F600d"));
        line(bold, 10, 1, QStringLiteral("Žďár"));
        QVERIFY2(pdf.close(error), qPrintable(error));

        const QString info =
            poppler(QStringLiteral("pdfinfo"), {QStringLiteral("-f"), QStringLiteral("1"),
                                                QStringLiteral("-l"), QStringLiteral("3"), path});
        QVERIFY2(info.contains(QLatin1String("Pages:           3")), qPrintable(info));
        QVERIFY(info.contains(QStringLiteral("Title:           Výplatní listina – říjen")));
        QVERIFY(info.contains(QLatin1String("Creator:         Tarnyx test")));
        QVERIFY(info.contains(QLatin1String("Page    1 size:  595.28 x 841.89 pts (A4)")));
        QVERIFY(info.contains(QLatin1String("Page    3 size:  841.89 x 595.28 pts (A4)")));
        if (!QStandardPaths::findExecutable(QStringLiteral("qpdf")).isEmpty()) {
            QProcess qpdf;
            qpdf.start(QStringLiteral("qpdf"), {QStringLiteral("--check"), path});
            QVERIFY(qpdf.waitForFinished(60000));
            QVERIFY2(qpdf.exitCode() == 0, qpdf.readAllStandardOutput().constData());
        }

        // Embedded as subsets of the glyphs drawn, text copyable.
        const QString fonts = poppler(QStringLiteral("pdffonts"), {path});
        static const QRegularExpression embedded(
            QStringLiteral("\\n[A-Z]{6}\\+(LiberationMono(-Bold)?) +TrueType +\\S+ +yes yes yes"));
        QStringList names;
        for (const QRegularExpressionMatch& m : embedded.globalMatch(fonts))
            names << m.captured(1);
        names.sort();
        QCOMPARE(names, QStringList({QStringLiteral("LiberationMono"),
                                     QStringLiteral("LiberationMono-Bold")}));

        // 6 columns of margin, then the grid: "Částka" starts 16 columns after "Mzda" ends.
        const QString first = pageText(path, 1);
        QVERIFY2(first.contains(QStringLiteral("\n      Mzda                Částka\n")) ||
                     first.startsWith(QStringLiteral("      Mzda                Částka\n")),
                 qPrintable(first));
        QVERIFY(first.contains(QString(QLatin1String("      ") + kCzech + u'\n')));
        const QString second = pageText(path, 2);
        QVERIFY2(second.startsWith(QStringLiteral("         Srážky\n")), qPrintable(second));
        QVERIFY(!second.contains(QLatin1String("Mzda")));
        const QString third = pageText(path, 3);
        QVERIFY2(third.startsWith(QStringLiteral("      a\uFFFDb c\uFFFDd\n")), qPrintable(third));
        QVERIFY(third.contains(QStringLiteral("\n                Žďár\n")));
    }

    // More glyphs of one font than one-byte codes: each still gives its own character back.
    void manyGlyphs()
    {
        const QString path = m_dir.filePath(QStringLiteral("many.pdf"));
        PdfStream pdf(kResolution);
        QString error;
        QVERIFY(pdf.open(path, error));
        const int font = pdf.addFont(mono(false));
        pdf.beginPage(kA4, kMargin);
        QStringList rows;
        for (char16_t first : {u'\u0100', u'\u0410', u'\u0141', u'\u0391', u'\u0021', u'\u00C0'}) {
            QString row;
            for (char16_t c = first; c < first + 48; ++c) {
                if (QChar(c).isPrint() && !QChar(c).isSpace())
                    row += QChar(c);
            }
            rows << row;
        }
        for (int k = 0; k < rows.size(); ++k)
            pdf.text(font, kSize, 0, 100 + k * 120, kAdvance, rows[k]);
        QVERIFY2(pdf.close(error), qPrintable(error));
        const QStringList lines = pageText(path, 1).split(u'\n');
        QVERIFY(lines.size() > rows.size());
        for (int k = 0; k < rows.size(); ++k)
            QCOMPARE(lines[k].trimmed(), rows[k]);
        QVERIFY(
            poppler(QStringLiteral("pdffonts"), {path}).count(QLatin1String("LiberationMono")) >=
            2);
    }

    // The embedded font holds the glyphs drawn, their components and .notdef, under the ids of
    // the whole font; every other outline is gone; the codes map to the glyphs.
    void subset()
    {
        QFile source(mono(false).path);
        QVERIFY(source.open(QIODevice::ReadOnly));
        const std::optional<TrueTypeFont> whole = TrueTypeFont::load(source.fileName(), 0);
        QVERIFY(whole);
        const quint16 a = whole->glyph(U'a');
        const quint16 z = whole->glyph(U'Ž');
        const quint16 q = whole->glyph(U'Q');
        std::vector<quint16> codes(256, 0);
        codes[0x41] = a;
        codes[0xC2] = z;
        const QByteArray bytes = whole->subset(codes);
        QVERIFY(bytes.size() > 0 && bytes.size() < source.size() / 10);

        // The outlines in the subset, by glyph id, and the advances, read from its tables.
        const auto u16 = [](const QByteArray& font, qsizetype at) {
            return int(uchar(font[at]) << 8 | uchar(font[at + 1]));
        };
        const auto u32 = [&](const QByteArray& font, qsizetype at) {
            return qsizetype(u16(font, at)) << 16 | u16(font, at + 2);
        };
        const auto tableAt = [&](const QByteArray& font, const char* tag) {
            for (int i = 0; i < u16(font, 4); ++i) {
                if (font.mid(12 + i * 16, 4) == tag)
                    return u32(font, 12 + i * 16 + 8);
            }
            return qsizetype(-1);
        };
        const auto outlines = [&](const QByteArray& font) {
            const bool longLoca = u16(font, tableAt(font, "head") + 50) != 0;
            const qsizetype loca = tableAt(font, "loca");
            const qsizetype glyf = tableAt(font, "glyf");
            const int count = u16(font, tableAt(font, "maxp") + 4);
            QMap<int, QByteArray> result;
            for (int g = 0; g < count; ++g) {
                const qsizetype start =
                    longLoca ? u32(font, loca + 4 * g) : 2 * u16(font, loca + 2 * g);
                const qsizetype end =
                    longLoca ? u32(font, loca + 4 * g + 4) : 2 * u16(font, loca + 2 * g + 2);
                if (end > start)
                    result.insert(g, font.mid(glyf + start, end - start));
            }
            return result;
        };
        const auto advance = [&](const QByteArray& font, int glyph) {
            const int longMetrics = u16(font, tableAt(font, "hhea") + 34);
            return u16(font, tableAt(font, "hmtx") + 4 * std::min(glyph, longMetrics - 1));
        };
        const QMap<int, QByteArray> kept = outlines(bytes);
        QVERIFY2(kept.contains(0) && kept.contains(a) && kept.contains(z) && !kept.contains(q),
                 qPrintable(QString::number(kept.size())));
        // Ž is built from other glyphs (Z and the caron), which are kept with it.
        QVERIFY(kept.size() > 3 && kept.size() <= 6);
        const QByteArray all = source.readAll();
        QCOMPARE(kept.value(a).left(10), outlines(all).value(a).left(10));
        QCOMPARE(advance(bytes, a), advance(all, a));

        // In a font whose glyphs after the first few share the advance of the last of them, a
        // subset without that glyph keeps the advance.
        const auto shared =
            PdfStream::findFontFile(QStringLiteral("DejaVu Sans Mono"), false, false);
        QVERIFY(shared && shared->path.endsWith(QLatin1String("DejaVuSansMono.ttf")));
        QFile sharedSource(shared->path);
        QVERIFY(sharedSource.open(QIODevice::ReadOnly));
        const QByteArray sharedAll = sharedSource.readAll();
        const std::optional<TrueTypeFont> mono = TrueTypeFont::load(shared->path, 0);
        QVERIFY(mono && u16(sharedAll, tableAt(sharedAll, "hhea") + 34) < mono->glyph(U'ž'));
        codes.assign(256, 0);
        codes[0x41] = mono->glyph(U'ž');
        QCOMPARE(advance(mono->subset(codes), codes[0x41]), advance(sharedAll, codes[0x41]));
    }

    // A white fill hides what was drawn under it, unless the same place is painted black again
    // afterwards (the cells of a frame line); it is only left out where that changes nothing.
    void whiteFills()
    {
        const QString path = m_dir.filePath(QStringLiteral("fills.pdf"));
        PdfStream pdf(kResolution);
        QString error;
        QVERIFY(pdf.open(path, error));
        const int font = pdf.addFont(mono(false));
        pdf.beginPage(kA4, QPointF());
        // Left: a wide line, a fill below it that covers its round end, a narrow line below:
        // part of the end stays hidden. Right: the same with a line as wide as the first.
        for (const auto& [x, below] : {std::pair(1000, 100), std::pair(3000, 400)}) {
            pdf.setLineWidth(400);
            pdf.polyline({QPoint(x, 0), QPoint(x, 1000)});
            pdf.fillRect(QRect(x - 500, 1000, 1000, 1000), true);
            pdf.setLineWidth(below);
            pdf.polyline({QPoint(x, 1000), QPoint(x, 2000)});
        }
        // Text, then a fill over its right half.
        pdf.text(font, 400, 0, 3000, 240, QStringLiteral("MMMMMMMMMM"));
        pdf.fillRect(QRect(1200, 2500, 1200, 1000), true);
        pdf.fillRect(QRect(5000, 0, 400, 400), false);
        QVERIFY2(pdf.close(error), qPrintable(error));

        const Grey page = render(path);
        QVERIFY(page.width > 0);
        // Points are tenths of units; the round end reaches 20 points below the line's end.
        QCOMPARE(page.at(100 - 15, 100 + 5), 255);
        QCOMPARE(page.at(100, 100 + 5), 0);
        QCOMPARE(page.at(300 - 15, 100 + 5), 0);
        const auto ink = [&](int x0, int x1) {
            int dark = 0;
            for (int y = 260; y < 310; ++y)
                for (int x = x0; x < x1; ++x)
                    dark += page.at(x, y) < 128;
            return dark;
        };
        QVERIFY(ink(0, 115) > 100);
        QCOMPARE(ink(125, 240), 0);
        QCOMPARE(page.at(520, 20), 0);
        QCOMPARE(pageText(path, 1).count(QLatin1Char('M')), 10);
    }

    // Pages that repeat the heading and frame of the page before draw them once stored; a page
    // whose heading differs in one character, or whose lines run elsewhere, still shows its own.
    void repeatedContent()
    {
        const QString path = m_dir.filePath(QStringLiteral("repeated.pdf"));
        PdfStream pdf(kResolution);
        QString error;
        QVERIFY(pdf.open(path, error));
        const int font = pdf.addFont(mono(false));
        const QString heading = QStringLiteral("Středisko: všechna    Mzdový útvar: 01");
        const QStringList pages = {heading, heading, QString(heading).replace(u'1', u'2'), heading};
        for (int page = 0; page < pages.size(); ++page) {
            pdf.beginPage(kA4, kMargin);
            pdf.text(font, kSize, 0, 100, kAdvance, pages[page]);
            pdf.text(font, kSize, 0, 220, kAdvance, QStringLiteral("Období: 01/2024"));
            pdf.text(font, kSize, 0, 340, kAdvance, QStringLiteral("Řádek %1").arg(page));
            pdf.setLineWidth(3);
            const int right = page == 2 ? 2400 : 3000;
            pdf.polyline({QPoint(0, 400), QPoint(right, 400), QPoint(right, 900)});
            pdf.polyline({QPoint(0, 900), QPoint(right, 900), QPoint(0, 400)});
            QVERIFY2(pdf.endPage(error), qPrintable(error));
        }
        QVERIFY2(pdf.close(error), qPrintable(error));
        for (int page = 0; page < pages.size(); ++page) {
            const QString text = pageText(path, page + 1);
            QVERIFY2(text.startsWith(QStringLiteral("      ") + pages[page] + u'\n'),
                     qPrintable(text));
            QVERIFY(text.contains(QStringLiteral("\n      Období: 01/2024\n")));
            QVERIFY(text.contains(QStringLiteral("\n      Řádek %1\n").arg(page)));
        }
    }

    // Glyphs of other widths than the grid's (a proportional font) still start on their cells,
    // and baselines are measured down from the printable area's top edge.
    void placement()
    {
        const QString path = m_dir.filePath(QStringLiteral("placement.pdf"));
        PdfStream pdf(kResolution);
        QString error;
        QVERIFY(pdf.open(path, error));
        const auto sans = PdfStream::findFontFile(QStringLiteral("Liberation Sans"), false, false);
        QVERIFY(sans && sans->path.endsWith(QLatin1String("LiberationSans-Regular.ttf")));
        const int font = pdf.addFont(*sans);
        QVERIFY(font >= 0);
        pdf.beginPage(kA4, kMargin);
        pdf.text(font, kSize, 600, 1000, kAdvance, QStringLiteral("iiii MMMM mmm lll WWW"));
        QVERIFY(pdf.close(error));

        const QMultiMap<QString, double> words = wordPositions(path);
        // The margin, 10 cells of x, then the cell of each word.
        QCOMPARE(words.value(QStringLiteral("MMMM")), 36 + (10 + 5) * 6.0);
        QCOMPARE(words.value(QStringLiteral("mmm")), 36 + (10 + 10) * 6.0);
        QCOMPARE(words.value(QStringLiteral("WWW")), 36 + (10 + 18) * 6.0);

        const QString html = poppler(QStringLiteral("pdftotext"),
                                     {QStringLiteral("-bbox"), path, QStringLiteral("-")});
        static const QRegularExpression box(
            QStringLiteral("yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" yMax=\"([0-9.]+)\">WWW<"));
        const QRegularExpressionMatch last = box.match(html);
        QVERIFY2(last.hasMatch(), qPrintable(html));
        const double baseline = 36 + 1000 / 10.0;
        QVERIFY(last.captured(1).toDouble() < baseline && baseline < last.captured(2).toDouble());
    }

    // Fonts: only TrueType outlines are accepted; damaged files are refused, not trusted; a
    // face of a collection is embedded on its own.
    void fonts()
    {
        PdfStream pdf(kResolution);
        QFile source(mono(false).path);
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QByteArray ttf = source.readAll();
        const auto write = [&](const QString& name, const QByteArray& data) {
            QFile file(m_dir.filePath(name));
            if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
                qFatal("cannot write %s", qPrintable(name));
            return PdfStream::FontFile{file.fileName(), 0};
        };
        QCOMPARE(pdf.addFont({m_dir.filePath(QStringLiteral("missing.ttf")), 0}), -1);
        QCOMPARE(pdf.addFont(write(QStringLiteral("text.ttf"), "not a font at all")), -1);
        QCOMPARE(pdf.addFont(write(QStringLiteral("cff.otf"), QByteArray("OTTO") + ttf.mid(4))),
                 -1);
        for (int length = 0; length < 4000; length += 37)
            QCOMPARE(pdf.addFont(write(QStringLiteral("cut%1.ttf").arg(length), ttf.left(length))),
                     -1);
        QByteArray farTable = ttf;
        farTable[12 + 8] = char(0x7f); // first table's offset far beyond the end
        QCOMPARE(pdf.addFont(write(QStringLiteral("far.ttf"), farTable)), -1);

        PdfStream::FontFile collection = write(QStringLiteral("mono.ttc"), asCollection(ttf));
        collection.index = 1;
        QCOMPARE(pdf.addFont(collection), -1);
        collection.index = 0;
        const int face = pdf.addFont(collection);
        QVERIFY(face >= 0);

        const QString path = m_dir.filePath(QStringLiteral("collection.pdf"));
        QString error;
        QVERIFY(pdf.open(path, error));
        pdf.beginPage(kA4, QPointF());
        pdf.text(face, kSize, 0, 100, kAdvance, QStringLiteral("Řádek"));
        pdf.text(face + 10, kSize, 0, 200, kAdvance, QStringLiteral("no such font"));
        QVERIFY2(pdf.close(error), qPrintable(error));
        QCOMPARE(pageText(path, 1), QStringLiteral("Řádek\n\f"));

        // Glyph locations pointing anywhere: the font is embedded without those outlines.
        QByteArray badLocations = ttf;
        for (int i = 0; i < ((uchar(ttf[4]) << 8) | uchar(ttf[5])); ++i) {
            if (ttf.mid(12 + i * 16, 4) != "loca")
                continue;
            const auto at = [&](int k) {
                return qsizetype(uchar(ttf[12 + i * 16 + k]));
            };
            const qsizetype offset = at(8) << 24 | at(9) << 16 | at(10) << 8 | at(11);
            for (qsizetype k = 0; k < 400; ++k)
                badLocations[offset + k] = char(k * 37 % 251);
        }
        PdfStream damaged(kResolution);
        const int bad = damaged.addFont(write(QStringLiteral("loca.ttf"), badLocations));
        QCOMPARE(printedLine(damaged, bad, path), QStringLiteral("ABC Řádek\n\f"));

        // Offsets and lengths near 4 GiB, which wrap around in 32-bit sums, in the character
        // map's encoding records, the table directory and the glyph locations: the font is
        // refused, or embedded without what they point to; nothing outside the file is read.
        const auto record = [&](const char* tag) {
            for (qsizetype at = 12; at + 16 <= ttf.size(); at += 16) {
                if (ttf.mid(at, 4) == tag)
                    return at;
            }
            qFatal("no table %s", tag);
        };
        const auto get = [](const QByteArray& font, qsizetype at, int bytes) {
            quint32 value = 0;
            for (int k = 0; k < bytes; ++k)
                value = value << 8 | uchar(font[at + k]);
            return value;
        };
        const auto put32 = [](QByteArray& font, qsizetype at, quint32 value) {
            for (int k = 0; k < 4; ++k)
                font[at + k] = char(value >> (24 - 8 * k));
        };
        const qsizetype cmap = get(ttf, record("cmap") + 8, 4);
        for (const quint32 wrap : {0xFFFFFFFCu, 0xFFFFFFF8u, 0xFFFFFFF0u}) {
            const QString name = QStringLiteral("wrap%1-%2.ttf").arg(wrap, 0, 16);
            QByteArray font = ttf;
            for (quint32 i = 0; i < get(ttf, cmap + 2, 2); ++i)
                put32(font, cmap + 4 + 8 * i + 4, wrap);
            QCOMPARE(pdf.addFont(write(name.arg(QLatin1String("cmap")), font)), -1);
            for (const char* tag : {"cmap", "glyf", "hmtx", "loca"}) {
                for (const int field : {8, 12}) {
                    font = ttf;
                    put32(font, record(tag) + field, wrap);
                    const QString file = name.arg(QLatin1String(tag) + QString::number(field));
                    QCOMPARE(pdf.addFont(write(file, font)), -1);
                }
            }
            font = ttf;
            const qsizetype loca = get(ttf, record("loca") + 8, 4);
            for (qsizetype k = 0; k + 4 <= get(ttf, record("loca") + 12, 4); k += 8)
                put32(font, loca + k, wrap + quint32(k % 24));
            PdfStream wrapped(kResolution);
            const int embedded = wrapped.addFont(write(name.arg(QLatin1String("loca")), font));
            QCOMPARE(printedLine(wrapped, embedded, path), QStringLiteral("ABC Řádek\n\f"));
        }
    }

    // Without pages the document gets one blank A4 page; misuse is refused or ignored, never
    // written into the file.
    void oddUse()
    {
        const QString path = m_dir.filePath(QStringLiteral("empty.pdf"));
        PdfStream pdf(kResolution);
        QString error;
        QVERIFY(!pdf.close(error));
        QVERIFY(!error.isEmpty());
        QVERIFY(pdf.open(path, error));
        QVERIFY(!pdf.open(path, error));
        error.clear();
        QVERIFY(!pdf.endPage(error));
        QVERIFY(!error.isEmpty());
        pdf.polyline({QPoint(0, 0), QPoint(10, 10)});
        QVERIFY2(pdf.close(error), qPrintable(error));
        const QString info = poppler(QStringLiteral("pdfinfo"), {path});
        QVERIFY2(info.contains(QLatin1String("Pages:           1")), qPrintable(info));
        QVERIFY(info.contains(QLatin1String("Page size:       595.276 x 841.89 pts (A4)")));

        // The same stream writes a second document; a page of no size fails it.
        const QString bad = m_dir.filePath(QStringLiteral("nosize.pdf"));
        QVERIFY(pdf.open(bad, error));
        pdf.beginPage(QSizeF(0, 842), QPointF());
        error.clear();
        QVERIFY(!pdf.endPage(error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!pdf.close(error));
        QVERIFY(!QFile::exists(bad));
    }

    // Failures: an unwritable path, a write that fails part way, and unfinished documents,
    // which are deleted.
    void failures()
    {
        PdfStream pdf(kResolution);
        QString error;
        QVERIFY(!pdf.open(m_dir.filePath(QStringLiteral("no/such/dir/x.pdf")), error));
        QVERIFY(error.contains(QLatin1String("no/such/dir/x.pdf")));
        error.clear();
        QVERIFY(!pdf.open(m_dir.path(), error));
        QVERIFY(!error.isEmpty());

        const QString unfinished = m_dir.filePath(QStringLiteral("unfinished.pdf"));
        {
            PdfStream dropped(kResolution);
            QVERIFY(dropped.open(unfinished, error));
            dropped.beginPage(kA4, QPointF());
            QVERIFY(dropped.endPage(error));
            QVERIFY(QFile::exists(unfinished));
        }
        QVERIFY(!QFile::exists(unfinished));
        QVERIFY(pdf.open(unfinished, error));
        pdf.discard();
        QVERIFY(!QFile::exists(unfinished));

        // A file size limit makes writes fail like a full disk does.
        const QString full = m_dir.filePath(QStringLiteral("full.pdf"));
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit limited = saved;
        limited.rlim_cur = 64 * 1024;
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &limited) == 0);
        QVERIFY(pdf.open(full, error));
        const int font = pdf.addFont(mono(false));
        bool failed = false;
        for (int page = 0; page < 3000 && !failed; ++page) {
            pdf.beginPage(kA4, QPointF());
            for (int row = 0; row < 60; ++row)
                pdf.text(font, kSize, 0, row * 100, kAdvance,
                         QString::number(page * 7919 + row * 104729).repeated(12));
            failed = !pdf.endPage(error);
        }
        error.clear();
        const bool closed = pdf.close(error);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        QVERIFY(failed);
        QVERIFY(!closed);
        QVERIFY2(error.contains(QLatin1String("full.pdf")), qPrintable(error));
        QVERIFY(!QFile::exists(full));
    }

    // Pages go to the file as they end: thousands of pages do not raise the memory peak.
    void memoryStaysFlat()
    {
#ifdef __SANITIZE_ADDRESS__
        QSKIP("AddressSanitizer keeps freed memory in quarantine: the resident size says nothing");
#endif
        const QString path = m_dir.filePath(QStringLiteral("long.pdf"));
        PdfStream pdf(kResolution);
        QString error;
        QVERIFY(pdf.open(path, error));
        const int font = pdf.addFont(mono(false));
        qint64 warm = 0;
        for (int page = 0; page < 2200; ++page) {
            if (page == 200)
                warm = peakMemoryKb();
            pdf.beginPage(kA4.transposed(), QPointF());
            for (int row = 0; row < 30; ++row) {
                pdf.text(font, kSize, 0, 100 + row * 100, kAdvance,
                         QString::number(qint64(page) * 1000003 + row * 7919).repeated(13) +
                             kCzech);
                pdf.polyline({QPoint(0, row * 100), QPoint(7800, row * 100)});
            }
            QVERIFY(pdf.endPage(error));
        }
        const qint64 grown = peakMemoryKb() - warm;
        QVERIFY2(pdf.close(error), qPrintable(error));
        // Keeping the pages' contents would take some 40 MB.
        QVERIFY2(warm > 0 && grown < 8 * 1024, qPrintable(QString::number(grown)));
        const QString info = poppler(QStringLiteral("pdfinfo"), {path});
        QVERIFY2(info.contains(QLatin1String("Pages:           2200")), qPrintable(info));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestPdfStream)
#include "tst_pdfstream.moc"

#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSizeF>
#include <QString>

#include <memory>
#include <optional>

// Writes a PDF file page by page, straight to disk, so that memory stays flat however many pages
// a document has. It knows just what reports need: TrueType fonts embedded as subsets, text
// placed on a fixed character grid, filled rectangles and stroked lines. What a page draws the
// same as the page before is stored once, in a form.
//
// Coordinates are device units (`resolution` per inch) from the top left corner of the page's
// printable area, y growing downwards.
class PdfStream
{
public:
    struct FontFile
    {
        QString path;
        int index = 0; // face within a collection
    };

    explicit PdfStream(int resolution);
    ~PdfStream(); // an unfinished document is discarded
    PdfStream(const PdfStream&) = delete;
    PdfStream& operator=(const PdfStream&) = delete;

    // The font file fontconfig chooses for a family and style; nullopt when none is found.
    static std::optional<FontFile> findFontFile(const QString& family, bool bold, bool italic);

    bool open(const QString& path, QString& error);
    void setInfo(const QString& title, const QString& creator);

    // A font for text(); -1 when the file cannot be embedded (not a TrueType font).
    int addFont(const FontFile& file);

    struct Metrics
    {
        double advance = 0; // of "M"
        double ascent = 0;
        double descent = 0;
        double underlinePosition = 0; // below the baseline
        double lineThickness = 0;
    };
    // Metrics of a font added with addFont at `pixelSize` device units.
    Metrics metrics(int font, double pixelSize) const;

    // Starts a page of `paper` size (points) whose printable area starts `origin` points from
    // the paper's top left corner.
    void beginPage(const QSizeF& paper, const QPointF& origin);
    // Draws `text` in font `font` of `pixelSize` device units with its baseline at y, the k-th
    // character's cell starting at x + k * advance.
    void text(int font, double pixelSize, int x, int baseline, int advance, const QString& text);
    void fillRect(const QRect& rect, bool white);
    void setLineWidth(int width);
    void polyline(const QList<QPoint>& points);
    void polyline(const QPoint* points, qsizetype count);
    bool endPage(QString& error);

    // Writes what follows the pages and closes the file. A document without pages gets one blank
    // A4 page. When anything fails the unfinished file is deleted.
    bool close(QString& error);
    // Deletes the unfinished file.
    void discard();

private:
    struct Private;
    std::unique_ptr<Private> m_d;
};

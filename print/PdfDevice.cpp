#include "print/PdfDevice.h"

#include "report/CodePages.h"

#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryDir>

#include <cmath>
#include <cups/cups.h>

PdfDevice::PdfDevice()
    : m_layout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
               QPageLayout::Millimeter, QMarginsF(0, 0, 0, 0))
{
    m_printerName = QStringLiteral("PDF");
}

PdfDevice::~PdfDevice()
{
    if (m_painter.isActive())
        abortDoc();
}

void PdfDevice::setPageSetup(const QPageLayout& layout, int resolution)
{
    const QPageLayout::Orientation orientation = m_layout.orientation();
    m_layout = layout;
    m_layout.setOrientation(orientation);
    m_resolution = resolution > 0 ? resolution : 1200;
}

bool PdfDevice::selectPrinter(const QString&)
{
    return true;
}

void PdfDevice::setLandscape(bool landscape)
{
    m_layout.setOrientation(landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
}

bool PdfDevice::beginDoc(QString& error)
{
    if (m_painter.isActive()) {
        error = QStringLiteral("Tisk dokumentu už probíhá.");
        return false;
    }
    m_aborted = false;
    m_page = 0;
    m_writer = std::make_unique<QPdfWriter>(m_path);
    m_writer->setResolution(m_resolution);
    m_writer->setTitle(m_title);
    m_writer->setCreator(QStringLiteral("Tarnyx"));
    m_writer->setPageLayout(m_layout);
    if (!m_painter.begin(m_writer.get())) {
        m_writer.reset();
        error = QStringLiteral("Nelze vytvořit tiskový dokument %1.").arg(m_path);
        return false;
    }
    m_painter.setRenderHint(QPainter::Antialiasing, false);
    m_page = 1;
    if (!m_face.isEmpty())
        applyFont();
    return true;
}

bool PdfDevice::newPage(QString& error)
{
    if (!m_painter.isActive() || !m_writer->newPage()) {
        error = QStringLiteral("Nelze začít novou stránku.");
        return false;
    }
    ++m_page;
    return true;
}

bool PdfDevice::endDoc(QString& error)
{
    if (!m_painter.isActive()) {
        error = QStringLiteral("Tiskový dokument nebyl zahájen.");
        return false;
    }
    const bool ended = m_painter.end();
    m_writer.reset();
    if (!ended) {
        discard();
        error = QStringLiteral("Tiskový dokument %1 nelze dokončit.").arg(m_path);
        return false;
    }
    return deliver(error);
}

void PdfDevice::abortDoc()
{
    m_aborted = true;
    if (m_painter.isActive())
        m_painter.end();
    m_writer.reset();
    discard();
}

bool PdfDevice::deliver(QString&)
{
    return true;
}

void PdfDevice::discard()
{}

int PdfDevice::pageWidth() const
{
    if (m_writer)
        return m_writer->width();
    return qRound(m_layout.paintRect(QPageLayout::Inch).width() * m_resolution);
}

int PdfDevice::pageHeight() const
{
    if (m_writer)
        return m_writer->height();
    return qRound(m_layout.paintRect(QPageLayout::Inch).height() * m_resolution);
}

void PdfDevice::setFont(const QString& face, int sizePoints, bool bold, bool italic, bool underline)
{
    m_face = face;
    m_fontSize = sizePoints;
    m_font = QFont(face);
    m_font.setStyleHint(QFont::TypeWriter);
    m_font.setBold(bold);
    m_font.setItalic(italic);
    m_font.setUnderline(underline);
    m_font.setKerning(false);
    if (m_painter.isActive())
        applyFont();
}

void PdfDevice::setFontStyle(bool bold, bool italic, bool underline)
{
    if (m_font.bold() == bold && m_font.italic() == italic && m_font.underline() == underline)
        return;
    m_font.setBold(bold);
    m_font.setItalic(italic);
    m_font.setUnderline(underline);
    if (m_painter.isActive())
        applyFont();
}

// Sizes the font for the device. Its advance is taken to a whole number of units: the report's
// character grid is counted in whole units, and textOut places every glyph on that grid, so
// text never drifts away from the frame lines drawn on it.
void PdfDevice::applyFont()
{
    m_font.setPixelSize(std::max(1, int(std::lround(m_fontSize * double(m_resolution) / 72.0))));
    const QFontMetricsF metrics(m_font, m_writer.get());
    m_advance = std::max(1, int(std::lround(metrics.horizontalAdvance(QLatin1Char('M')))));
    m_lineHeight = std::max(1, int(std::lround(metrics.ascent() + metrics.descent())));
    m_ascent = int(std::lround(metrics.ascent()));
    m_rawFont = QRawFont::fromFont(m_font);
    m_painter.setFont(m_font);
}

QSize PdfDevice::textExtent(QByteArrayView text)
{
    return QSize(int(text.size()) * m_advance, m_lineHeight);
}

void PdfDevice::textOut(int x, int y, QByteArrayView text)
{
    if (!m_painter.isActive() || text.isEmpty())
        return;
    const int width = int(text.size()) * m_advance;
    m_painter.fillRect(QRect(x, y, width, m_lineHeight), Qt::white);
    m_painter.setPen(Qt::black);
    // Each glyph is placed on its own cell of the grid. Blanks need no glyph: the white
    // background already covers their cells (an underline still runs through them).
    const QString unicode = Cp1250ToUnicode(text);
    const QList<quint32> all = m_rawFont.glyphIndexesForString(unicode);
    QList<quint32> glyphs;
    QList<QPointF> positions;
    glyphs.reserve(all.size());
    positions.reserve(all.size());
    const bool underline = m_font.underline();
    for (qsizetype i = 0; i < all.size() && i < unicode.size(); ++i) {
        if (unicode.at(i) == u' ' && !underline)
            continue;
        glyphs << all.at(i);
        positions << QPointF(x + i * m_advance, y + m_ascent);
    }
    if (glyphs.isEmpty())
        return;
    QGlyphRun run;
    run.setRawFont(m_rawFont);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    run.setUnderline(underline);
    m_painter.drawGlyphRun(QPointF(0, 0), run);
}

void PdfDevice::setPenWidth(int width)
{
    QPen pen(Qt::black, std::max(1, width), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    m_painter.setPen(pen);
}

void PdfDevice::polyline(std::initializer_list<QPoint> points)
{
    if (!m_painter.isActive())
        return;
    m_painter.drawPolyline(points.begin(), int(points.size()));
}

PdfFileDevice::PdfFileDevice(const QString& path)
{
    setOutputPath(path);
}

void PdfFileDevice::discard()
{
    QFile::remove(outputPath());
}

CupsQueueDevice::CupsQueueDevice() = default;

CupsQueueDevice::~CupsQueueDevice()
{
    if (printing())
        abortDoc();
    if (!m_tempDir.isEmpty())
        QDir(m_tempDir).removeRecursively();
}

bool CupsQueueDevice::queueSetup(const QString& queue, QPageLayout& layout, int& resolution)
{
    const QPrinterInfo info = QPrinterInfo::printerInfo(queue);
    if (info.isNull())
        return false;
    QPrinter printer(info, QPrinter::HighResolution);
    layout = printer.pageLayout();
    // The unprintable border of the paper, as the queue describes its device.
    layout.setMargins(layout.minimumMargins());
    resolution = printer.resolution();
    return true;
}

bool CupsQueueDevice::selectPrinter(const QString& name)
{
    const QStringList installed = QPrinterInfo::availablePrinterNames();
    QString found;
    for (const QString& queue : installed)
        if (queue.compare(name, Qt::CaseInsensitive) == 0)
            found = queue;
    if (found.isEmpty())
        found = QPrinterInfo::defaultPrinterName();
    if (found.isEmpty() && !installed.isEmpty())
        found = installed.first();
    QPageLayout layout;
    int resolution = 0;
    if (found.isEmpty() || !queueSetup(found, layout, resolution))
        return false;
    setPrinterName(found);
    setPageSetup(layout, resolution);
    if (m_tempDir.isEmpty()) {
        QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tarnyx-print-XXXXXX"));
        dir.setAutoRemove(false);
        if (!dir.isValid())
            return false;
        m_tempDir = dir.path();
    }
    setOutputPath(m_tempDir + QStringLiteral("/job.pdf"));
    return true;
}

bool CupsQueueDevice::deliver(QString& error)
{
    const QByteArray queue = printerName().toUtf8();
    const QByteArray file = QFile::encodeName(outputPath());
    const QByteArray title = jobTitle().toUtf8();
    const int job = cupsPrintFile2(CUPS_HTTP_DEFAULT, queue.constData(), file.constData(),
                                   title.constData(), 0, nullptr);
    QFile::remove(outputPath());
    if (job == 0) {
        error = QString::fromUtf8(cupsLastErrorString());
        return false;
    }
    return true;
}

void CupsQueueDevice::discard()
{
    QFile::remove(outputPath());
}

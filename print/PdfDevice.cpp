#include "print/PdfDevice.h"

#include "core/report/CodePages.h"

#include "core/platform/PrinterCatalog.h"
#include "print/CupsClient.h"
#include "print/PdfStream.h"

#include "core/platform/TempFolder.h"

#include <QFile>

#include <cmath>

namespace {

// The queue's sheet held upright with its unprintable border.
QPageLayout uprightLayout(const cupsclient::QueueSetup& setup)
{
    return QPageLayout(setup.paper, QPageLayout::Portrait, setup.marginsMm,
                       QPageLayout::Millimeter);
}

} // namespace

PdfDevice::PdfDevice()
    : m_layout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
               QPageLayout::Millimeter, QMarginsF(0, 0, 0, 0))
{
    m_printerName = QStringLiteral("PDF");
}

PdfDevice::~PdfDevice()
{
    if (m_stream)
        abortDoc();
}

void PdfDevice::setPageSetup(const QPageLayout& layout, int resolution)
{
    const bool landscape = m_layout.orientation() == QPageLayout::Landscape;
    m_layout = layout;
    m_layout.setOrientation(QPageLayout::Portrait);
    m_uprightMargins = m_layout.margins();
    m_resolution = resolution > 0 ? resolution : 1200;
    setLandscape(landscape);
}

bool PdfDevice::selectPrinter(const QString&)
{
    return true;
}

// A landscape page lies on the upright sheet turned a quarter to the left, counter-clockwise (as
// the print server turns it for "landscape"): the page's left edge runs along the sheet's bottom
// edge and its top along the sheet's left edge. So the sheet's bottom border is the page's left
// one, its left border the page's top, its top border the page's right and its right border the
// page's bottom. Only so does nothing fall into the border the device cannot print.
void PdfDevice::setLandscape(bool landscape)
{
    const QMarginsF& m = m_uprightMargins;
    m_layout.setOrientation(landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    m_layout.setMargins(landscape ? QMarginsF(m.bottom(), m.left(), m.top(), m.right()) : m);
}

void PdfDevice::startPage()
{
    const QRectF paper = m_layout.fullRect(QPageLayout::Point);
    const QRectF printable = m_layout.paintRect(QPageLayout::Point);
    m_stream->beginPage(paper.size(), printable.topLeft());
}

bool PdfDevice::beginDoc(QString& error)
{
    if (m_stream) {
        error = QStringLiteral("Tisk dokumentu už probíhá.");
        return false;
    }
    m_aborted = false;
    m_page = 0;
    m_fonts.clear();
    m_styleFonts.fill(kUnknownFont);
    m_font = -1;
    auto stream = std::make_unique<PdfStream>(m_resolution);
    if (!stream->open(m_path, error))
        return false;
    stream->setInfo(m_title, QStringLiteral("Tarnyx"));
    m_stream = std::move(stream);
    startPage();
    m_page = 1;
    if (!m_face.isEmpty())
        applyFont();
    return true;
}

bool PdfDevice::newPage(QString& error)
{
    if (!m_stream || !m_stream->endPage(error)) {
        if (error.isEmpty())
            error = QStringLiteral("Nelze začít novou stránku.");
        return false;
    }
    startPage();
    ++m_page;
    return true;
}

bool PdfDevice::endDoc(QString& error)
{
    if (!m_stream) {
        error = QStringLiteral("Tiskový dokument nebyl zahájen.");
        return false;
    }
    const bool ended = m_stream->endPage(error) && m_stream->close(error);
    m_stream.reset();
    if (!ended) {
        discard();
        return false;
    }
    return deliver(error);
}

void PdfDevice::abortDoc()
{
    m_aborted = true;
    if (m_stream)
        m_stream->discard();
    m_stream.reset();
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
    return qRound(m_layout.paintRect(QPageLayout::Inch).width() * m_resolution);
}

int PdfDevice::pageHeight() const
{
    return qRound(m_layout.paintRect(QPageLayout::Inch).height() * m_resolution);
}

void PdfDevice::setFont(const QString& face, int sizePoints, bool bold, bool italic, bool underline)
{
    if (face != m_face)
        m_styleFonts.fill(kUnknownFont);
    m_face = face;
    m_fontSize = sizePoints;
    m_bold = bold;
    m_italic = italic;
    m_underline = underline;
    if (m_stream)
        applyFont();
}

void PdfDevice::setFontStyle(bool bold, bool italic, bool underline)
{
    if (m_bold == bold && m_italic == italic && m_underline == underline)
        return;
    // Underlining is drawn apart from the font.
    const bool fontChanges = m_bold != bold || m_italic != italic;
    m_bold = bold;
    m_italic = italic;
    m_underline = underline;
    if (m_stream && fontChanges)
        applyFont();
}

int PdfDevice::fontFor(bool bold, bool italic)
{
    // Styles change many times a page; the fonts of the current face are at hand.
    int& known = m_styleFonts[size_t(bold) * 2 + size_t(italic)];
    if (known == kUnknownFont)
        known = findFont(bold, italic);
    return known;
}

int PdfDevice::findFont(bool bold, bool italic)
{
    const QString key = m_face + (bold ? QStringLiteral("/b") : QString()) +
                        (italic ? QStringLiteral("/i") : QString());
    if (const auto it = m_fonts.constFind(key); it != m_fonts.constEnd())
        return *it;
    int font = -1;
    // The face asked for; else the desktop's fixed-pitch face in that style.
    for (const QString& family : {m_face, QStringLiteral("monospace")}) {
        if (const std::optional<PdfStream::FontFile> file =
                PdfStream::findFontFile(family, bold, italic))
            font = m_stream->addFont(*file);
        if (font >= 0)
            break;
    }
    m_fonts.insert(key, font);
    return font;
}

// Sizes the font for the device. Its advance is taken to a whole number of units: the report's
// character grid is counted in whole units, and every glyph is placed on that grid, so text never
// drifts away from the frame lines drawn on it.
void PdfDevice::applyFont()
{
    m_pixelSize = std::max(1.0, std::round(m_fontSize * double(m_resolution) / 72.0));
    m_font = fontFor(m_bold, m_italic);
    if (m_font < 0)
        m_font = fontFor(false, false);
    if (m_font < 0)
        return;
    const PdfStream::Metrics metrics = m_stream->metrics(m_font, m_pixelSize);
    m_advance = std::max(1, int(std::lround(metrics.advance)));
    m_lineHeight = std::max(1, int(std::lround(metrics.ascent + metrics.descent)));
    m_ascent = int(std::lround(metrics.ascent));
    m_underlineY = std::max(1, int(std::lround(metrics.underlinePosition)));
    m_underlineWidth = std::max(1, int(std::lround(metrics.lineThickness)));
}

QSize PdfDevice::textExtent(QByteArrayView text)
{
    return QSize(int(text.size()) * m_advance, m_lineHeight);
}

void PdfDevice::textOut(int x, int y, QByteArrayView text)
{
    if (!m_stream || text.isEmpty())
        return;
    const int width = int(text.size()) * m_advance;
    // The background of the cells is opaque: it covers whatever was drawn there before.
    m_stream->fillRect(QRect(x, y, width, m_lineHeight), true);
    if (m_font >= 0)
        m_stream->text(m_font, m_pixelSize, x, y + m_ascent, m_advance, cp1250ToUnicode(text));
    if (m_underline)
        m_stream->fillRect(QRect(x, y + m_ascent + m_underlineY, width, m_underlineWidth), false);
}

void PdfDevice::setPenWidth(int width)
{
    if (m_stream)
        m_stream->setLineWidth(std::max(1, width));
}

void PdfDevice::polyline(std::initializer_list<QPoint> points)
{
    if (m_stream)
        m_stream->polyline(points.begin(), qsizetype(points.size()));
}

PdfFileDevice::PdfFileDevice(const QString& path)
{
    setOutputPath(path);
}

void PdfFileDevice::discard()
{
    QFile::remove(outputPath());
}

CupsQueueDevice::CupsQueueDevice(const PrinterCatalog* printers) : m_printers(printers)
{}

CupsQueueDevice::~CupsQueueDevice()
{
    if (printing())
        abortDoc();
}

bool CupsQueueDevice::queueSetup(const QString& queue, QPageLayout& layout, int& resolution,
                                 const QPageSize& paper)
{
    cupsclient::QueueSetup setup;
    if (cupsclient::queueSetup(queue, paper, setup) != cupsclient::Answer::Yes)
        return false;
    layout = uprightLayout(setup);
    resolution = setup.dpi;
    return true;
}

bool CupsQueueDevice::selectPrinter(const QString& name)
{
    m_selectionError.clear();
    // Everything comes from the scheduler itself, on connections that give up (or stop with the
    // job) rather than wait for a scheduler that hangs.
    const QPageSize chosen = m_printers ? m_printers->paperFor(name) : QPageSize();
    cupsclient::QueueSetup setup;
    cupsclient::Answer answer = name.isEmpty()
                                    ? cupsclient::Answer::No
                                    : cupsclient::queueSetup(name, chosen, setup, m_stop);
    if (answer == cupsclient::Answer::No) {
        // The configured queue is gone: the default queue, never whichever comes first.
        QString fallback;
        answer = cupsclient::defaultQueue(fallback, m_stop);
        if (answer == cupsclient::Answer::Yes) {
            const QPageSize paper = m_printers ? m_printers->paperFor(fallback) : QPageSize();
            answer = cupsclient::queueSetup(fallback, paper, setup, m_stop);
        }
        if (answer == cupsclient::Answer::No) {
            m_selectionError = QStringLiteral("Tiskárna %1 není nainstalována a žádná tiskárna "
                                              "není nastavena jako výchozí.")
                                   .arg(name);
            return false;
        }
    }
    if (answer == cupsclient::Answer::NoAnswer) {
        m_selectionError = PrinterCatalog::noAnswerText();
        return false;
    }
    setPrinterName(setup.name);
    setPageSetup(uprightLayout(setup), setup.dpi);
    if (!m_tempDir)
        m_tempDir = std::make_unique<platform::TempFolder>();
    if (!m_tempDir->isValid())
        return false;
    setOutputPath(m_tempDir->filePath(QStringLiteral("job.pdf")));
    return true;
}

bool CupsQueueDevice::deliver(QString& error)
{
    m_jobId = 0;
    m_jobId = cupsclient::printFile(
        printerName(), outputPath(), jobTitle(),
        cupsclient::JobLayout{pageLayout().pageSize(),
                              pageLayout().orientation() == QPageLayout::Landscape},
        error, m_stop);
    QFile::remove(outputPath());
    return m_jobId > 0;
}

void CupsQueueDevice::discard()
{
    QFile::remove(outputPath());
}

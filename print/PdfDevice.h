#pragma once

#include "print/PrinterDevice.h"

#include <QHash>
#include <QPageLayout>

#include <array>
#include <atomic>
#include <memory>

class PdfStream;
namespace platform {
class TempFolder;
}
class PrinterCatalog;

// Draws the document into a PDF file with a given page layout and resolution. The printable
// area is the page inside the layout's margins. The font is embedded from its file; every
// character advances by the same whole number of device units, so text stays on the character
// grid of the report. A face that cannot be embedded is replaced by the desktop's fixed-pitch
// face.
class PdfDevice : public PrinterDevice
{
public:
    // A4, the whole page printable, 1200 units per inch.
    PdfDevice();
    ~PdfDevice() override;

    // The page layout (paper, margins = unprintable border) and resolution of the document.
    void setPageSetup(const QPageLayout& layout, int resolution);
    const QPageLayout& pageLayout() const { return m_layout; }

    bool selectPrinter(const QString& name) override;
    QString printerName() const override { return m_printerName; }
    void setLandscape(bool landscape) override;
    void setTitle(const QString& title) override { m_title = title; }

    bool beginDoc(QString& error) override;
    bool newPage(QString& error) override;
    bool endDoc(QString& error) override;
    void abortDoc() override;
    bool aborted() const override { return m_aborted; }
    bool printing() const override { return bool(m_stream); }
    int pageNumber() const override { return m_page; }

    int dpiX() const override { return m_resolution; }
    int dpiY() const override { return m_resolution; }
    int pageWidth() const override;
    int pageHeight() const override;

    void setFont(const QString& face, int sizePoints, bool bold, bool italic,
                 bool underline) override;
    int fontSize() const override { return m_fontSize; }
    void setFontStyle(bool bold, bool italic, bool underline) override;
    QSize textExtent(QByteArrayView text) override;
    void textOut(int x, int y, QByteArrayView text) override;
    void setPenWidth(int width) override;
    void polyline(std::initializer_list<QPoint> points) override;

protected:
    // Where the document is written; set before beginDoc.
    void setOutputPath(const QString& path) { m_path = path; }
    const QString& outputPath() const { return m_path; }
    const QString& jobTitle() const { return m_title; }
    void setPrinterName(const QString& name) { m_printerName = name; }
    // Called by endDoc once the PDF file is complete.
    virtual bool deliver(QString& error);
    // Called when the document is discarded.
    virtual void discard();

private:
    void applyFont();
    void startPage();
    // The embedded font for the current face and style; -1 when none can be embedded.
    int fontFor(bool bold, bool italic);
    int findFont(bool bold, bool italic);

    QString m_path;
    QString m_printerName;
    QString m_title;
    QPageLayout m_layout;
    QMarginsF m_uprightMargins; // the unprintable border of the sheet held upright
    int m_resolution = 1200;
    std::unique_ptr<PdfStream> m_stream;
    QHash<QString, int> m_fonts; // face and style -> font of the stream
    static constexpr int kUnknownFont = -2;
    std::array<int, 4> m_styleFonts{kUnknownFont, kUnknownFont, kUnknownFont, kUnknownFont};
    QString m_face;
    int m_fontSize = 0;
    bool m_bold = false;
    bool m_italic = false;
    bool m_underline = false;
    int m_font = -1;
    double m_pixelSize = 0;
    int m_advance = 1; // device units every character advances
    int m_lineHeight = 1;
    int m_ascent = 0;
    int m_underlineY = 0; // below the baseline
    int m_underlineWidth = 1;
    int m_page = 0;
    bool m_aborted = false;
};

// A PDF file at a path of the user's choice.
class PdfFileDevice : public PdfDevice
{
public:
    explicit PdfFileDevice(const QString& path);

protected:
    void discard() override;
};

// A CUPS queue: the document is laid out with the queue's paper, printable area and resolution,
// drawn into a temporary PDF file, and handed to CUPS in one request when it is ended. An aborted
// document never reaches the queue.
class CupsQueueDevice : public PdfDevice
{
public:
    // `printers`, when given, supplies the paper the user chose for a queue in its setup dialog.
    explicit CupsQueueDevice(const PrinterCatalog* printers = nullptr);
    ~CupsQueueDevice() override;

    bool selectPrinter(const QString& name) override;
    QString selectionError() const override { return m_selectionError; }
    // A request to the print server gives up as soon as this turns true (the job's stop).
    void setStopFlag(const std::atomic<bool>* stop) { m_stop = stop; }
    int jobId() const override { return m_jobId; }

    // The page layout and resolution of a queue as Qt's print support reports them, on `paper`
    // when that is valid, else on the queue's default paper.
    static bool queueSetup(const QString& queue, QPageLayout& layout, int& resolution,
                           const QPageSize& paper = {});

protected:
    bool deliver(QString& error) override;
    void discard() override;

private:
    const PrinterCatalog* m_printers;
    std::unique_ptr<platform::TempFolder> m_tempDir; // where the document is drawn
    QString m_selectionError;
    int m_jobId = 0;
    const std::atomic<bool>* m_stop = nullptr;
};

#pragma once

#include "core/config/AppSettings.h"
#include "core/jobs/JobState.h"
#include "core/report/OrientationMemory.h"
#include "core/report/ReportHeader.h"

#include "core/platform/TempFolder.h"

#include <QImage>
#include <QMainWindow>
#include <QSizeF>
#include <QString>

#include <memory>

class PrinterCatalog;
class QAction;
class QLabel;
class QMenu;
class QScrollArea;
class QSpinBox;
class QThread;
class QTimer;

namespace Poppler {
class Document;
}

// The pages of a finished PDF file for the screen. Nothing is rendered until a page is asked
// for, so memory does not grow with the page count. Used by one thread at a time.
class PreviewPages
{
public:
    PreviewPages();
    ~PreviewPages();
    PreviewPages(const PreviewPages&) = delete;
    PreviewPages& operator=(const PreviewPages&) = delete;

    bool open(const QString& path, QString& error);
    bool isOpen() const { return bool(m_document); }
    void close();
    int pageCount() const;
    // The size of a page in points, as it lies on the screen; empty for a page that is not there.
    QSizeF pageSize(int index) const;
    // The page at `dpi` pixels per inch; a null image for a page that is not there.
    QImage render(int index, double dpi) const;

private:
    std::unique_ptr<Poppler::Document> m_document;
};

// How a page fits the view: its width fills the view's width, or the whole page is in view.
enum class PreviewZoom
{
    PageWidth,
    WholePage
};

// The resolution that shows a page of `pagePoints` in a view of `viewport` pixels.
double previewDpi(const QSizeF& pagePoints, const QSize& viewport, PreviewZoom zoom);

// What a preview document is laid out with: the program's settings and remembered orientations
// as they were when the preview was asked for, and the printers (for the paper chosen in the
// printer setup this session).
struct PreviewSetup
{
    AppSettings settings;
    OrientationMemory orientations;
    const PrinterCatalog* printers = nullptr;
};

// What makePreviewPdf made.
struct PreviewResult
{
    bool ok = false;
    QString error;          // the print job's error text when not ok
    bool complete = false;  // every page of the report is in the file
    bool landscape = false; // the orientation the pages were laid out in
    int pages = 0;
};

// Lays the report out as a print job does for the printer of the settings (its paper,
// printable area and resolution, the orientation rule, the same drawing), but writes the
// document into the PDF file `target` instead of handing it to the print server. With
// `pageLimit` > 0 the document ends after that many pages. An orientation that would be asked
// for follows the report's width and is not remembered. `state` takes the progress; its stop
// request abandons the document.
PreviewResult makePreviewPdf(const QString& reportPath, const PreviewSetup& setup,
                             const QString& target, int pageLimit, JobState& state);

// A window that shows a report's pages as they will print on the current printer: the report is
// laid out into a temporary PDF file on a thread of its own, its first pages first, and the page
// on view is rendered from it. "Tisk" puts the report into the re-print queue. The temporary
// file goes with the window.
class PrintPreview : public QMainWindow
{
    Q_OBJECT
public:
    // The preview of the report at `reportPath`, owned by `owner` (closes with it), not modal.
    // `queue` takes the report for "Tisk" (nullptr: printing is not offered). Returns nullptr,
    // after telling the user, when the report cannot be read.
    static PrintPreview* showPreview(const QString& reportPath, const AppSettings& settings,
                                     const PrinterCatalog& printers, JobState* queue,
                                     QWidget* owner);
    ~PrintPreview() override;

    // The whole document is laid out (or its making failed).
    bool isFinished() const { return m_finished; }
    // The first page is on view.
    bool hasPage() const { return !m_shownImage.isNull(); }
    int pageCount() const { return m_pageCount; }
    bool complete() const { return m_complete; }
    bool landscape() const { return m_landscape; }
    int currentPage() const { return m_page; } // 0 for the first
    PreviewZoom zoom() const { return m_zoom; }
    // The page as it is on view.
    const QImage& shownImage() const { return m_shownImage; }
    double shownDpi() const { return m_shownDpi; }
    // The temporary PDF file the pages come from; empty while none is made.
    QString documentPath() const;

    void showPage(int index);
    void setZoom(PreviewZoom zoom);

    struct Widgets
    {
        QAction* printAction = nullptr;
        QAction* firstAction = nullptr;
        QAction* previousAction = nullptr;
        QAction* nextAction = nullptr;
        QAction* lastAction = nullptr;
        QAction* widthAction = nullptr;
        QAction* wholeAction = nullptr;
        QSpinBox* pageField = nullptr;
        QLabel* pageLabel = nullptr;
        QLabel* page = nullptr;
        QScrollArea* area = nullptr;
        QLabel* status = nullptr;
    };
    const Widgets& ui() const { return m_ui; }
    // Every command of the window, as Shift+F10, the Menu key or the right mouse button offer
    // them on the page.
    QMenu* contextMenu() const { return m_contextMenu; }

signals:
    // The document (first pages or whole) changed; `finished` once no more comes.
    void documentReady(bool finished);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    PrintPreview(const ReportHeader& header, PreviewSetup setup, JobState* queue, QWidget* owner);
    void createWidgets();
    void start();
    // From the worker, on this thread.
    void takeDocument(const QString& path, const PreviewResult& result, bool last);
    void refresh();
    void updateControls();
    void updateProgress();
    void stopWorker();

    ReportHeader m_header;
    PreviewSetup m_setup;
    JobState* m_queue;
    // The worker's own state: its progress and the stop request when the window closes.
    JobState m_state;
    platform::TempFolder m_dir;
    QThread* m_worker = nullptr;
    QTimer* m_progressTimer = nullptr;
    PreviewPages m_pages;
    QString m_documentPath;
    int m_pageCount = 0;
    bool m_complete = false;
    bool m_landscape = false;
    bool m_finished = false;
    int m_page = 0;
    PreviewZoom m_zoom = PreviewZoom::WholePage;
    QImage m_shownImage;
    double m_shownDpi = 0;
    Widgets m_ui;
    QMenu* m_contextMenu = nullptr;
};

// Opens the print preview of the report at `reportPath` for the current settings and printer
// (see PrintPreview::showPreview).
void showPrintPreview(const QString& reportPath, const AppSettings& settings,
                      const PrinterCatalog& printers, JobState* queue, QWidget* owner);

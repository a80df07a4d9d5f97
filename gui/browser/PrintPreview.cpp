#include "gui/browser/PrintPreview.h"

#include "core/platform/PrinterCatalog.h"
#include "core/report/CodePages.h"
#include "gui/common/FormLook.h"
#include "gui/common/MessageDlg.h"
#include "gui/common/ReportActions.h"
#include "print/JobHost.h"
#include "print/PdfDevice.h"
#include "print/PrintJob.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QToolBar>

#include <poppler-qt6.h>

#include <algorithm>

namespace {

// The pages laid out before the rest: the first page and the one after it are on view while the
// whole document is still being made.
constexpr int kFirstPages = 2;
constexpr int kProgressIntervalMs = 100;
const QString kCaption = QStringLiteral("Náhled tisku");

// The printer of a print job whose finished document stays here as a file instead of going to
// the print server. Everything else (the queue, its paper and resolution, the drawing) is the
// printing path's own.
class PreviewDevice : public CupsQueueDevice
{
public:
    PreviewDevice(const PrinterCatalog* printers, const QString& target, int pageLimit)
        : CupsQueueDevice(printers), m_target(target), m_pageLimit(pageLimit)
    {}

    // Past the page limit the document ends: the job is told that no page can begin, and ends
    // the document it has.
    bool newPage(QString& error) override
    {
        if (m_pageLimit > 0 && pageNumber() >= m_pageLimit) {
            m_truncated = true;
            error = QStringLiteral("Náhled obsahuje jen první stránky.");
            return false;
        }
        return CupsQueueDevice::newPage(error);
    }
    bool truncated() const { return m_truncated; }

protected:
    bool deliver(QString& error) override
    {
        QFile::remove(m_target);
        if (!QFile::rename(outputPath(), m_target)) {
            error = QStringLiteral("Nelze uložit náhled tisku.");
            QFile::remove(outputPath());
            return false;
        }
        return true;
    }

private:
    QString m_target;
    int m_pageLimit;
    bool m_truncated = false;
};

// A preview asks nothing and writes nothing to the event log: an unknown title follows the
// report's width, as the question's default answer does.
class PreviewHost : public JobHost
{
public:
    int askOrientation(const ReportHeader&) override { return OrientByWidth; }
    void showPrintError(PrintJob& job) override { job.setChoice(ErrorChoice::Cancel); }
    void logEvent(const QString&, const QString&) override {}
};

} // namespace

PreviewPages::PreviewPages() = default;
PreviewPages::~PreviewPages() = default;

bool PreviewPages::open(const QString& path, QString& error)
{
    m_document = Poppler::Document::load(path);
    if (!m_document || m_document->isLocked() || m_document->numPages() < 1) {
        m_document.reset();
        error = QStringLiteral("Nelze otevřít náhled tisku.");
        return false;
    }
    m_document->setRenderHint(Poppler::Document::Antialiasing);
    m_document->setRenderHint(Poppler::Document::TextAntialiasing);
    return true;
}

void PreviewPages::close()
{
    m_document.reset();
}

int PreviewPages::pageCount() const
{
    return m_document ? m_document->numPages() : 0;
}

QSizeF PreviewPages::pageSize(int index) const
{
    if (!m_document || index < 0 || index >= pageCount())
        return {};
    const std::unique_ptr<Poppler::Page> page = m_document->page(index);
    return page ? page->pageSizeF() : QSizeF();
}

QImage PreviewPages::render(int index, double dpi) const
{
    if (!m_document || index < 0 || index >= pageCount() || dpi <= 0)
        return {};
    const std::unique_ptr<Poppler::Page> page = m_document->page(index);
    return page ? page->renderToImage(dpi, dpi) : QImage();
}

double previewDpi(const QSizeF& pagePoints, const QSize& viewport, PreviewZoom zoom)
{
    if (pagePoints.isEmpty() || viewport.isEmpty())
        return 0;
    const double byWidth = viewport.width() * 72.0 / pagePoints.width();
    if (zoom == PreviewZoom::PageWidth)
        return byWidth;
    return std::min(byWidth, viewport.height() * 72.0 / pagePoints.height());
}

PreviewResult makePreviewPdf(const QString& reportPath, const PreviewSetup& setup,
                             const QString& target, int pageLimit, JobState& state)
{
    // A copy: what the job learns about titles is not remembered by the program.
    OrientationMemory orientations = setup.orientations;
    PreviewDevice device(setup.printers, target, pageLimit);
    device.setStopFlag(&state.stopFlag());
    PreviewHost host;
    PreviewResult result;
    {
        PrintJob job(QFileInfo(reportPath).absoluteFilePath(),
                     PrintContext{setup.settings, orientations, state, device, host});
        job.setDisposeWhenDone(false);
        job.run();
        result.landscape = job.layout().landscape;
    }
    const QString error = state.takeWorkerError();
    result.pages = device.pageNumber();
    const bool made = QFileInfo(target).isFile();
    if (device.truncated()) {
        result.ok = made;
    } else {
        result.ok = made && error.isEmpty() && !state.stopRequested();
        result.complete = result.ok;
    }
    if (!result.ok)
        result.error = error;
    return result;
}

PrintPreview::PrintPreview(const ReportHeader& header, PreviewSetup setup, JobState* queue,
                           QWidget* owner)
    : QMainWindow(owner, Qt::Window), m_header(header), m_setup(std::move(setup)), m_queue(queue),
      // A print folder as the printer's are, so that a later start removes it should this copy
      // be killed.
      m_dir(QStringLiteral("preview"))
{
    setObjectName(QStringLiteral("FormPrintPreview"));
    setWindowTitle(kCaption + QStringLiteral(" - ") + cp1250ToUnicode(m_header.title));
    createWidgets();
}

PrintPreview::~PrintPreview()
{
    stopWorker();
}

PrintPreview* PrintPreview::showPreview(const QString& reportPath, const AppSettings& settings,
                                        const PrinterCatalog& printers, JobState* queue,
                                        QWidget* owner)
{
    ReportHeader header(QFileInfo(reportPath).absoluteFilePath());
    QString error;
    if (!header.loadHeader(error)) {
        messageDlg(error, MsgKind::Error, {MsgButton::Ok}, kCaption, owner);
        return nullptr;
    }
    auto* preview = new PrintPreview(header, PreviewSetup{settings, orientationMemory(), &printers},
                                     queue, owner);
    preview->setAttribute(Qt::WA_DeleteOnClose);
    applyFormLook(preview, settings);
    preview->resize(720, 860);
    restoreWindowSize(preview);
    // A screen lower than that gets a window it can show whole.
    if (const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen()) {
        const int titleBar = preview->style()->pixelMetric(QStyle::PM_TitleBarHeight);
        preview->resize(
            preview->size().boundedTo(screen->availableGeometry().size() - QSize(0, titleBar)));
    }
    preview->show();
    preview->start();
    return preview;
}

void showPrintPreview(const QString& reportPath, const AppSettings& settings,
                      const PrinterCatalog& printers, JobState* queue, QWidget* owner)
{
    PrintPreview::showPreview(reportPath, settings, printers, queue, owner);
}

void PrintPreview::createWidgets()
{
    const auto action = [this](const QString& name, const QString& caption, const QString& hint,
                               const QKeySequence& key, auto slot) {
        QAction* a = addWindowAction(this, name, caption, hint, key);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    m_ui.printAction = action(QStringLiteral("printAction"), QStringLiteral("&Tisk"),
                              QStringLiteral("Zařazení sestavy do tiskové fronty"),
                              QKeySequence(Qt::CTRL | Qt::Key_P), [this] {
                                  if (m_queue)
                                      requeueReport(&m_header, *m_queue);
                              });
    m_ui.firstAction =
        action(QStringLiteral("firstAction"), QStringLiteral("|<"), QStringLiteral("První stránka"),
               QKeySequence(Qt::CTRL | Qt::Key_Home), [this] { showPage(0); });
    m_ui.previousAction = action(QStringLiteral("previousAction"), QStringLiteral("<"),
                                 QStringLiteral("Předchozí stránka"), QKeySequence(Qt::Key_PageUp),
                                 [this] { showPage(m_page - 1); });
    m_ui.nextAction =
        action(QStringLiteral("nextAction"), QStringLiteral(">"), QStringLiteral("Další stránka"),
               QKeySequence(Qt::Key_PageDown), [this] { showPage(m_page + 1); });
    m_ui.lastAction = action(
        QStringLiteral("lastAction"), QStringLiteral(">|"), QStringLiteral("Poslední stránka"),
        QKeySequence(Qt::CTRL | Qt::Key_End), [this] { showPage(m_pageCount - 1); });
    m_ui.widthAction = action(QStringLiteral("widthAction"), QStringLiteral("Šíř&ka stránky"),
                              QStringLiteral("Stránka na celou šířku okna"), QKeySequence(),
                              [this] { setZoom(PreviewZoom::PageWidth); });
    m_ui.wholeAction = action(QStringLiteral("wholeAction"), QStringLiteral("&Celá stránka"),
                              QStringLiteral("Celá stránka v okně"), QKeySequence(),
                              [this] { setZoom(PreviewZoom::WholePage); });
    m_ui.widthAction->setCheckable(true);
    m_ui.wholeAction->setCheckable(true);

    m_ui.pageField = new QSpinBox(this);
    m_ui.pageField->setObjectName(QStringLiteral("pageField"));
    m_ui.pageField->setRange(1, 1);
    m_ui.pageField->setKeyboardTracking(false);
    connect(m_ui.pageField, &QSpinBox::valueChanged, this,
            [this](int value) { showPage(value - 1); });
    m_ui.pageLabel = new QLabel(this);
    m_ui.pageLabel->setObjectName(QStringLiteral("pageLabel"));

    QToolBar* bar = addToolBar(QStringLiteral("toolBar"));
    bar->setObjectName(QStringLiteral("toolBar"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->addAction(m_ui.printAction);
    bar->addSeparator();
    bar->addActions({m_ui.firstAction, m_ui.previousAction});
    bar->addWidget(m_ui.pageField);
    bar->addActions({m_ui.nextAction, m_ui.lastAction});
    bar->addSeparator();
    bar->addActions({m_ui.widthAction, m_ui.wholeAction});
    letTabReachToolBar(bar);

    m_contextMenu = new QMenu(this);
    m_contextMenu->setObjectName(QStringLiteral("contextMenu"));
    m_contextMenu->addAction(m_ui.printAction);
    m_contextMenu->addSeparator();
    m_contextMenu->addActions(
        {m_ui.firstAction, m_ui.previousAction, m_ui.nextAction, m_ui.lastAction});
    m_contextMenu->addSeparator();
    m_contextMenu->addActions({m_ui.widthAction, m_ui.wholeAction});

    m_ui.page = new QLabel;
    m_ui.page->setObjectName(QStringLiteral("page"));
    m_ui.page->setAlignment(Qt::AlignCenter);
    m_ui.area = new QScrollArea(this);
    m_ui.area->setObjectName(QStringLiteral("area"));
    m_ui.area->setAlignment(Qt::AlignCenter);
    m_ui.area->setBackgroundRole(QPalette::Dark);
    m_ui.area->setWidget(m_ui.page);
    setCentralWidget(m_ui.area);

    m_ui.status = new QLabel(this);
    m_ui.status->setObjectName(QStringLiteral("status"));
    statusBar()->addWidget(m_ui.pageLabel);
    statusBar()->addWidget(m_ui.status, 1);

    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(kProgressIntervalMs);
    connect(m_progressTimer, &QTimer::timeout, this, &PrintPreview::updateProgress);
    updateControls();
}

void PrintPreview::start()
{
    if (!m_dir.isValid()) {
        messageDlg(QStringLiteral("Nelze vytvořit dočasný soubor náhledu tisku."), MsgKind::Error,
                   {MsgButton::Ok}, kCaption, this);
        close();
        return;
    }
    const QString first = m_dir.filePath(QStringLiteral("first.pdf"));
    const QString whole = m_dir.filePath(QStringLiteral("whole.pdf"));
    const QString report = m_header.fileName;
    // The worker reads only what does not change while it runs (the setup, its own state); the
    // window waits for it before anything goes.
    m_worker = QThread::create([this, first, whole, report] {
        const PreviewResult quick = makePreviewPdf(report, m_setup, first, kFirstPages, m_state);
        const bool more = quick.ok && !quick.complete && !m_state.stopRequested();
        QMetaObject::invokeMethod(
            this, [this, first, quick, more] { takeDocument(first, quick, !more); },
            Qt::QueuedConnection);
        if (!more)
            return;
        const PreviewResult all = makePreviewPdf(report, m_setup, whole, 0, m_state);
        QMetaObject::invokeMethod(
            this, [this, whole, all] { takeDocument(whole, all, true); }, Qt::QueuedConnection);
    });
    m_worker->setObjectName(QStringLiteral("previewWorker"));
    m_worker->start();
    m_progressTimer->start();
    updateProgress();
}

void PrintPreview::stopWorker()
{
    if (!m_worker)
        return;
    m_state.requestStop(true);
    m_worker->wait();
    delete m_worker;
    m_worker = nullptr;
}

void PrintPreview::takeDocument(const QString& path, const PreviewResult& result, bool last)
{
    if (last) {
        m_finished = true;
        m_progressTimer->stop();
    }
    QString error = result.error;
    if (result.ok && m_pages.open(path, error)) {
        if (!m_documentPath.isEmpty() && m_documentPath != path)
            QFile::remove(m_documentPath);
        m_documentPath = path;
        m_pageCount = m_pages.pageCount();
        m_complete = result.complete;
        m_landscape = result.landscape;
        m_page = std::clamp(m_page, 0, m_pageCount - 1);
        refresh();
    } else if (!m_state.stopRequested()) {
        messageDlg(error.isEmpty() ? QStringLiteral("Nelze vytvořit náhled tisku.") : error,
                   MsgKind::Error, {MsgButton::Ok}, kCaption, this);
        if (m_pageCount == 0) {
            updateControls();
            emit documentReady(last);
            close();
            return;
        }
    }
    updateControls();
    updateProgress();
    emit documentReady(last);
}

QString PrintPreview::documentPath() const
{
    return m_documentPath;
}

void PrintPreview::showPage(int index)
{
    if (m_pageCount == 0)
        return;
    index = std::clamp(index, 0, m_pageCount - 1);
    if (index == m_page && !m_shownImage.isNull())
        return;
    m_page = index;
    refresh();
    m_ui.area->verticalScrollBar()->setValue(0);
    updateControls();
}

void PrintPreview::setZoom(PreviewZoom zoom)
{
    m_zoom = zoom;
    refresh();
    updateControls();
}

// Renders the page on view for the size of the view; nothing else is kept.
void PrintPreview::refresh()
{
    if (!m_pages.isOpen())
        return;
    QSize viewport = m_ui.area->maximumViewportSize();
    if (m_zoom == PreviewZoom::PageWidth)
        viewport.rwidth() -= style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const qreal ratio = devicePixelRatioF();
    const double dpi = previewDpi(m_pages.pageSize(m_page), viewport - QSize(4, 4), m_zoom) * ratio;
    m_shownDpi = dpi;
    m_shownImage = m_pages.render(m_page, dpi);
    QPixmap pixmap = QPixmap::fromImage(m_shownImage);
    pixmap.setDevicePixelRatio(ratio);
    m_ui.page->setPixmap(pixmap);
    m_ui.page->resize(pixmap.deviceIndependentSize().toSize());
}

void PrintPreview::updateControls()
{
    const bool any = m_pageCount > 0;
    m_ui.printAction->setVisible(m_queue != nullptr);
    m_ui.printAction->setEnabled(m_queue != nullptr);
    m_ui.firstAction->setEnabled(any && m_page > 0);
    m_ui.previousAction->setEnabled(any && m_page > 0);
    m_ui.nextAction->setEnabled(any && m_page + 1 < m_pageCount);
    m_ui.lastAction->setEnabled(any && m_complete && m_page + 1 < m_pageCount);
    m_ui.widthAction->setChecked(m_zoom == PreviewZoom::PageWidth);
    m_ui.wholeAction->setChecked(m_zoom == PreviewZoom::WholePage);
    {
        const QSignalBlocker block(m_ui.pageField);
        m_ui.pageField->setEnabled(any);
        m_ui.pageField->setRange(1, std::max(1, m_pageCount));
        m_ui.pageField->setValue(m_page + 1);
    }
    // Until the whole document is laid out, its page count is not known.
    m_ui.pageLabel->setText(
        QStringLiteral("Strana %1 z %2")
            .arg(any ? m_page + 1 : 0)
            .arg(m_complete ? QString::number(m_pageCount) : QStringLiteral("…")));
}

void PrintPreview::updateProgress()
{
    if (m_finished) {
        m_ui.status->setText(m_pageCount == 0 ? QString()
                             : m_landscape    ? QStringLiteral("Na šířku")
                                              : QStringLiteral("Na výšku"));
        return;
    }
    m_ui.status->setText(
        QStringLiteral("Připravuje se náhled tisku… %1 %").arg(m_state.progress()));
}

void PrintPreview::closeEvent(QCloseEvent* event)
{
    stopWorker();
    m_pages.close();
    m_dir.remove();
    saveWindowSize(this);
    QMainWindow::closeEvent(event);
}

void PrintPreview::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    refresh();
}

void PrintPreview::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    if (isContextMenuKey(event)) {
        popUpOnce(m_contextMenu, m_ui.area->viewport()->mapToGlobal(QPoint(8, 8)));
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void PrintPreview::contextMenuEvent(QContextMenuEvent* event)
{
    popUpOnce(m_contextMenu, event->reason() == QContextMenuEvent::Keyboard
                                 ? m_ui.area->viewport()->mapToGlobal(QPoint(8, 8))
                                 : event->globalPos());
}

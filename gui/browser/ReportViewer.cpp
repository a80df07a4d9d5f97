#include "gui/browser/ReportViewer.h"

#include "core/archive/ArchiveScan.h"
#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/report/CodePages.h"
#include "core/report/ReportHeader.h"
#include "gui/browser/FindTextDialog.h"
#include "gui/common/Events.h"
#include "gui/common/FormLook.h"
#include "gui/common/MessageDlg.h"
#include "gui/common/ReportActions.h"

#include <QAbstractListModel>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPalette>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include <climits>

namespace {

const QString kSection = QStringLiteral("Settings");
constexpr int kCentralEuropeanCharset = 238;
// What the viewer opens large enough to show: a whole page width and about half a page.
constexpr int kPageColumns = 80;
constexpr int kPageRows = 30;

} // namespace

// The rows of the report for the list view, made only when they are painted.
class ReportViewer::RowsModel : public QAbstractListModel
{
public:
    RowsModel(const ReportText& text, QObject* parent) : QAbstractListModel(parent), m_text(text) {}

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(std::min<qsizetype>(m_text.rowCount(), INT_MAX));
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount())
            return {};
        switch (role) {
        case Qt::DisplayRole:
            return m_text.isGreyRow(index.row()) ? QString()
                                                 : m_text.rowText(index.row(), m_frames);
        case Qt::BackgroundRole:
            if (m_text.isGreyRow(index.row()))
                return QGuiApplication::palette().brush(QPalette::Disabled, QPalette::Text);
            return {};
        case Qt::SizeHintRole:
            return m_rowSize;
        default:
            return {};
        }
    }

    void reload() { beginResetModel(), endResetModel(); }
    void setLook(bool frames, QSize rowSize)
    {
        m_frames = frames;
        m_rowSize = rowSize;
        // Every row changes its text and height: the view lays itself out again.
        reload();
    }

private:
    const ReportText& m_text;
    bool m_frames = false;
    QSize m_rowSize;
};

ReportViewer::ReportViewer(QWidget* opener, const ReportHeader& report, bool previewOnly,
                           JobState* queue)
    : QMainWindow(opener, Qt::Window), m_report(report), m_previewOnly(previewOnly), m_queue(queue)
{
    setObjectName(QStringLiteral("FormListView"));
    m_font.name = QStringLiteral("Courier New");
    m_font.charset = kCentralEuropeanCharset;
    m_font.size = 10;
    const std::unique_ptr<RegistryIni> ini = openSettings();
    if (const std::optional<QString> text =
            ini->readString(kSection, QStringLiteral("LstViewFont"), QString()))
        textToFont(*text, m_font);
    createWidgets();
    // The frames setting takes effect where the font has frames, once the report is loaded.
    m_ui.framesAction->setChecked(
        ini->readBool(kSection, QStringLiteral("LstViewFrames"), true).value_or(true));
}

ReportViewer* ReportViewer::showReport(QWidget* opener, const ReportHeader& report,
                                       bool previewOnly, JobState* queue,
                                       const AppSettings* settings)
{
    auto* viewer = new ReportViewer(opener, report, previewOnly, queue);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    if (settings)
        applyFormLook(viewer, *settings);
    QString error;
    if (!viewer->loadReport(error)) {
        delete viewer;
        messageDlg(error, MsgKind::Error, {MsgButton::Ok}, {}, opener);
        return nullptr;
    }
    viewer->sizeForPage();
    viewer->show();
    return viewer;
}

void ReportViewer::createWidgets()
{
    m_model = new RowsModel(m_text, this);
    m_ui.rows = new QListView(this);
    m_ui.rows->setObjectName(QStringLiteral("rows"));
    m_ui.rows->setModel(m_model);
    m_ui.rows->setUniformItemSizes(true);
    m_ui.rows->setLayoutMode(QListView::Batched);
    m_ui.rows->setBatchSize(65536);
    m_ui.rows->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_ui.rows->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ui.rows->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_ui.rows->setTextElideMode(Qt::ElideNone);
    m_ui.rows->setWordWrap(false);
    m_ui.rows->installEventFilter(this);
    setCentralWidget(m_ui.rows);
    connect(m_ui.rows->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                m_searchPos = current.isValid() ? current.row() : -1;
            });

    const auto action = [this](const QString& name, const QString& caption, const QString& hint,
                               const QKeySequence& key, auto slot) {
        QAction* a = addWindowAction(this, name, caption, hint, key);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    const QString queueHint = QStringLiteral("Zařazení vybrané sestavy do tiskové fronty");
    m_ui.printAction = action(QStringLiteral("printAction"), QStringLiteral("&Tisk"), queueHint,
                              QKeySequence(Qt::CTRL | Qt::Key_P), [this] {
                                  if (m_queue)
                                      requeueReport(&m_report, *m_queue);
                              });
    m_ui.deleteAction =
        action(QStringLiteral("deleteAction"), QStringLiteral("&Odstranit"),
               QStringLiteral("Odstranění vybrané sestavy"), QKeySequence(Qt::Key_Delete),
               // The viewer closes when the deletion is announced to every window.
               [this] { deleteReport(&m_report, events::FromViewer); });
    m_ui.findAction = action(QStringLiteral("findAction"), QStringLiteral("&Najít..."),
                             QStringLiteral("Vyhledání zadaného textu v sestavě"),
                             QKeySequence(Qt::CTRL | Qt::Key_F), [this] { find(); });
    m_ui.findNextAction = action(QStringLiteral("findNextAction"), QStringLiteral("Najít &další"),
                                 QStringLiteral("Vyhledání dalšího výskytu zadaného textu"),
                                 QKeySequence(Qt::Key_F3), [this] { findNext(); });
    m_ui.saveAction = action(QStringLiteral("saveAction"), QStringLiteral("&Uložit..."),
                             QStringLiteral("Uloží sestavu do souboru v textovém tvaru"),
                             QKeySequence(Qt::CTRL | Qt::Key_S), [this] { saveAsText(); });
    m_ui.fontAction = action(QStringLiteral("fontAction"), QStringLiteral("&Písmo"),
                             QStringLiteral("Výběr písma pro zobrazení sestavy v prohlížeči"),
                             QKeySequence(), [this] { chooseFont(); });
    m_ui.framesAction =
        action(QStringLiteral("framesAction"), QStringLiteral("&Rámečky"),
               QStringLiteral("Při použití vhodného písma UNICODE je možné vykreslovat rámečky "
                              "semigrafickými znaky."),
               QKeySequence(), [this](bool on) { setFramesOn(on); });
    m_ui.framesAction->setCheckable(true);

    QToolBar* bar = addToolBar(QStringLiteral("toolBar"));
    bar->setObjectName(QStringLiteral("toolBar"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->addActions({m_ui.printAction, m_ui.saveAction, m_ui.findAction, m_ui.findNextAction,
                     m_ui.fontAction, m_ui.framesAction});
    createPrintPreviewAction(bar);
    letTabReachToolBar(bar);

    m_contextMenu = new QMenu(this);
    m_contextMenu->setObjectName(QStringLiteral("contextMenu"));
    m_contextMenu->addActions({m_ui.printAction, m_ui.deleteAction});
    m_contextMenu->addSeparator();
    m_contextMenu->addActions({m_ui.saveAction, m_ui.findAction, m_ui.findNextAction});
    m_contextMenu->addSeparator();
    m_contextMenu->addActions({m_ui.fontAction, m_ui.framesAction, m_printPreviewAction});
    m_ui.status = new QLabel(this);
    m_ui.status->setObjectName(QStringLiteral("status"));
    statusBar()->addWidget(m_ui.status, 1);
}

namespace {

ReportViewer::PrintPreviewOpener& printPreviewOpener()
{
    static ReportViewer::PrintPreviewOpener open;
    return open;
}

} // namespace

void ReportViewer::setPrintPreviewOpener(PrintPreviewOpener open)
{
    printPreviewOpener() = std::move(open);
}

// "Náhled tisku": the pages as the current printer will print them, beside the text view.
void ReportViewer::createPrintPreviewAction(QToolBar* bar)
{
    m_printPreviewAction =
        addWindowAction(this, QStringLiteral("printPreviewAction"), QStringLiteral("Ná&hled tisku"),
                        QStringLiteral("Stránky sestavy tak, jak budou vytištěny"),
                        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    m_printPreviewAction->setVisible(static_cast<bool>(printPreviewOpener()));
    connect(m_printPreviewAction, &QAction::triggered, this, [this] {
        if (const PrintPreviewOpener& open = printPreviewOpener())
            open(m_report.fileName, m_previewOnly ? nullptr : m_queue, this);
    });
    bar->addAction(m_printPreviewAction);
}

bool ReportViewer::loadReport(QString& error)
{
    m_searchText.clear();
    m_searchUp = false;
    m_searchPos = -1;
    delete m_findDialog;
    {
        HourglassCursor wait;
        if (!m_text.load(m_report.fileName, m_report.codePage, error))
            return false;
    }
    setWindowTitle(cp1250ToUnicode(m_report.title));
    m_ui.status->setText(
        QStringLiteral("%1 stran, %2 řádků na stránku, šířka %3 znaků, vytvořeno %4")
            .arg(m_report.pages)
            .arg(m_report.linesPerPage)
            .arg(m_report.width)
            .arg(createdText(m_report.created)));
    if (isVisible())
        keepStatusWhole();
    applyFont();
    return true;
}

bool ReportViewer::framesOn() const
{
    return m_ui.framesAction->isChecked();
}

void ReportViewer::applyFont()
{
    const QFont font = m_font.toQFont();
    m_ui.rows->setFont(font);
    const QFontMetrics metrics(font);
    // Frames need a font of fixed pitch that has the box-drawing characters.
    m_framesAvailable = QFontInfo(font).fixedPitch() && metrics.inFontUcs4(0x2502) &&
                        metrics.inFontUcs4(0x2550) && metrics.inFontUcs4(0x253C);
    if (!m_framesAvailable)
        m_ui.framesAction->setChecked(false);
    const int charWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    const QSize rowSize(int(m_text.widestRow()) * charWidth + 2 * charWidth, metrics.height());
    m_model->setLook(framesOn(), rowSize);
    m_ui.rows->horizontalScrollBar()->setSingleStep(charWidth);
    updateActions();
}

void ReportViewer::updateActions()
{
    const bool mayChange = !m_previewOnly;
    m_ui.printAction->setEnabled(mayChange && m_queue);
    m_ui.deleteAction->setEnabled(mayChange);
    m_ui.findAction->setEnabled(m_text.rowCount() > 0);
    m_ui.findNextAction->setEnabled(!m_searchText.isEmpty());
    m_ui.framesAction->setEnabled(m_framesAvailable);
}

void ReportViewer::setFramesOn(bool on)
{
    m_ui.framesAction->setChecked(on && m_framesAvailable);
    applyFont();
}

void ReportViewer::setViewerFont(const FontDesc& font)
{
    m_font = font;
    applyFont();
    // Font and frames reach the settings file in one save.
    const std::unique_ptr<RegistryIni> ini = openSettings();
    ini->batch([&] {
        return ini->writeString(kSection, QStringLiteral("LstViewFont"), fontToText(m_font)) &&
               (!m_framesAvailable ||
                ini->writeBool(kSection, QStringLiteral("LstViewFrames"), framesOn()));
    });
}

void ReportViewer::storeFrames() const
{
    if (m_framesAvailable)
        openSettings()->writeBool(kSection, QStringLiteral("LstViewFrames"), framesOn());
}

QFont ReportViewer::dialogFont(const FontDesc& desc)
{
    QFont font = desc.toQFont();
    // A name that stands for another face ("Courier New") is not in the dialog's list: the face
    // that is shown instead is, rather than whichever comes first.
    const QString family = QFontInfo(font).family();
    if (!QFontDatabase::families().contains(desc.name))
        font.setFamily(family);
    // A face's styles have names of their own ("Book", "Oblique"): the one whose slant matches
    // and whose weight is nearest.
    const int weight = desc.bold ? QFont::Bold : QFont::Normal;
    QString best;
    int bestDistance = 0;
    for (const QString& style : QFontDatabase::styles(family)) {
        const bool slanted =
            QFontDatabase::font(family, style, desc.size).style() != QFont::StyleNormal;
        if (slanted != desc.italic)
            continue;
        const int distance = std::abs(QFontDatabase::weight(family, style) - weight);
        if (best.isEmpty() || distance < bestDistance) {
            best = style;
            bestDistance = distance;
        }
    }
    if (!best.isEmpty())
        font.setStyleName(best);
    return font;
}

void ReportViewer::chooseFont()
{
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, dialogFont(m_font), this, QString(),
                                              QFontDialog::MonospacedFonts);
    if (ok)
        setViewerFont(FontDesc::fromQFont(chosen, m_font.charset, m_font.color));
}

void ReportViewer::find()
{
    if (!m_findDialog)
        m_findDialog = new FindTextDialog(this);
    if (m_findDialog->exec() != QDialog::Accepted)
        return;
    m_searchText = m_findDialog->text();
    m_searchUp = m_findDialog->upwards();
    updateActions();
    findNext();
}

void ReportViewer::findNext()
{
    if (m_searchText.isEmpty())
        return;
    const int step = m_searchUp ? -1 : 1;
    m_searchPos += step;
    qsizetype found = -1;
    {
        HourglassCursor wait;
        found = m_text.find(m_searchText, m_searchPos, step);
    }
    if (found < 0) {
        messageDlg(QStringLiteral("\"%1\" nelze najít. ").arg(m_searchText), MsgKind::Information,
                   {MsgButton::Ok}, QStringLiteral("Najít"), this);
        return;
    }
    const QModelIndex index = m_model->index(int(found));
    m_ui.rows->setCurrentIndex(index);
    m_ui.rows->scrollTo(index);
    m_searchPos = found;
}

void ReportViewer::showRow(qsizetype row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    const QModelIndex index = m_model->index(int(row));
    m_ui.rows->setCurrentIndex(index);
    m_ui.rows->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void ReportViewer::saveAsText()
{
    const QString proposed = cp1250ToUnicode(m_report.title).trimmed() + QStringLiteral(".txt");
    QString path;
    if (m_chooseSaveFile) {
        path = m_chooseSaveFile(this, proposed);
    } else {
        QFileDialog dialog(this, QString(), proposed, QStringLiteral("Textové soubory (*.txt)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("txt"));
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        dialog.selectFile(proposed);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().constFirst();
    }
    if (path.isEmpty())
        return;
    QString error;
    if (!m_text.saveAsText(path, error)) {
        messageDlg(error, MsgKind::Error, {MsgButton::Ok}, {}, this);
        return;
    }
    messageDlg(QStringLiteral("Sestava byla uložena do souboru\r%1")
                   .arg(QFileInfo(path).absoluteFilePath()),
               MsgKind::Information, {MsgButton::Ok}, QStringLiteral("Uložení do souboru"), this);
}

// The status text stays whole: the window is never narrower than the status bar needs (known
// once the bar is laid out, when the window is shown).
void ReportViewer::keepStatusWhole()
{
    const int needed = statusBar()->minimumSizeHint().width();
    setMinimumWidth(needed);
    if (width() < needed)
        resize(needed, height());
}

// Room for a whole page width and about 30 rows of the viewer font, with the toolbar, the status
// bar and the scroll bars, as far as the screen has room.
void ReportViewer::sizeForPage()
{
    const QFontMetrics metrics(m_ui.rows->font());
    const int charWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    const int frame = 2 * m_ui.rows->frameWidth();
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_ui.rows);
    // The rows keep two columns to spare beside the text (applyFont).
    QSize wanted((kPageColumns + 2) * charWidth + frame + scrollBar,
                 kPageRows * metrics.height() + frame + scrollBar);
    wanted.rheight() +=
        findChild<QToolBar*>()->sizeHint().height() + statusBar()->sizeHint().height();
    wanted = wanted.expandedTo(minimumSizeHint());
    const QScreen* screen =
        parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        // The title bar and the window's frame are not known before the window is shown.
        const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
        const int border = 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
        wanted =
            wanted.boundedTo(screen->availableGeometry().size() - QSize(border, titleBar + border));
    }
    resize(wanted);
}

// Once the window's frame is known, the whole window (frame and all) stays within the screen.
void ReportViewer::keepOnScreen()
{
    if (m_keptOnScreen || !screen())
        return;
    m_keptOnScreen = true;
    const QSize room = screen()->availableGeometry().size() - (frameGeometry().size() - size());
    if (width() > room.width() || height() > room.height())
        resize(size().boundedTo(room).expandedTo(minimumSize()));
}

// Where a menu asked for from the keyboard opens: under the cursor row where it is in view,
// otherwise at the top of the text.
QPoint ReportViewer::keyboardMenuPos() const
{
    const QWidget* viewport = m_ui.rows->viewport();
    QRect row = m_ui.rows->visualRect(m_ui.rows->currentIndex());
    if (!row.isValid() || !viewport->rect().intersects(row))
        row = QRect(0, 0, viewport->width(), 0);
    return viewport->mapToGlobal(row.bottomLeft() + QPoint(8, 0));
}

void ReportViewer::keyPressEvent(QKeyEvent* event)
{
    if (isContextMenuKey(event)) {
        popUpOnce(m_contextMenu, keyboardMenuPos());
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void ReportViewer::contextMenuEvent(QContextMenuEvent* event)
{
    popUpOnce(m_contextMenu, event->reason() == QContextMenuEvent::Keyboard ? keyboardMenuPos()
                                                                            : event->globalPos());
}

bool ReportViewer::event(QEvent* event)
{
    if (event->type() == QEvent::Show) {
        keepStatusWhole();
        keepOnScreen();
    }
    if (event->type() == events::kReportDeleted) {
        if (static_cast<events::ReportDeletedEvent*>(event)->report == &m_report)
            close();
        return true;
    }
    return QMainWindow::event(event);
}

bool ReportViewer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui.rows && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        QScrollBar* bar = m_ui.rows->horizontalScrollBar();
        switch (key->key()) {
        case Qt::Key_Escape:
            close();
            return true;
        case Qt::Key_Left:
            bar->setValue(bar->value() - 8 * bar->singleStep());
            return true;
        case Qt::Key_Right:
            bar->setValue(bar->value() + 8 * bar->singleStep());
            return true;
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void ReportViewer::closeEvent(QCloseEvent* event)
{
    storeFrames();
    QMainWindow::closeEvent(event);
}

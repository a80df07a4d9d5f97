#include "gui/browser/ArchiveTree.h"

#include "core/config/AppSettings.h"
#include "core/platform/FileInfo.h"
#include "core/platform/FileName.h"
#include "core/report/CodePages.h"
#include "gui/browser/FindTextDialog.h" // ReportViewer.h hands out its find dialog inline
#include "gui/browser/ReportViewer.h"
#include "gui/common/Events.h"
#include "gui/common/FormLook.h"
#include "gui/common/MessageDlg.h"
#include "gui/common/Pictures.h"
#include "gui/common/ReportActions.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QShortcut>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {

constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kReportRole = Qt::UserRole + 2;    // the report's header, as its address
constexpr int kDirectoryRole = Qt::UserRole + 3; // index into the archive directory list
constexpr int kYearRole = Qt::UserRole + 4;
constexpr int kMonthRole = Qt::UserRole + 5;
constexpr int kHitRole = Qt::UserRole + 6; // a search result's index into the hits

// Typing on restarts the search once the keys have paused this long.
constexpr int kSearchDelayMs = 250;

QPointer<ArchiveTree> g_window;

// The usual widths of the status panels (period, pages, width, created); a larger font or a
// longer text widens them.
constexpr int kStatusPanelWidths[4] = {120, 100, 80, 50};

// The spool directory whose archive holds an archived report, with its trailing "/".
QString spoolDirectoryOf(const QString& reportPath)
{
    const QString archive = QFileInfo(reportPath).path();
    return platform::includeTrailingPathDelimiter(QFileInfo(archive).path());
}

QStandardItem* makeNode(const QString& caption, ArchiveTree::Level level, const QIcon& icon)
{
    auto* item = new QStandardItem(icon, caption);
    item->setEditable(false);
    item->setData(int(level), kLevelRole);
    return item;
}

} // namespace

ArchiveTree* ArchiveTree::showArchiveTree(const AppSettings& settings, JobState& queue,
                                          QWidget* owner)
{
    if (!g_window)
        g_window = new ArchiveTree(settings, queue, owner);
    if (g_window->isMinimized())
        g_window->showNormal();
    g_window->show();
    g_window->raise();
    g_window->activateWindow();
    return g_window;
}

ArchiveTree* ArchiveTree::instance()
{
    return g_window;
}

ArchiveTree::ArchiveTree(const AppSettings& settings, JobState& queue, QWidget* owner)
    : QMainWindow(owner, Qt::Window), m_settings(settings), m_queue(queue)
{
    setObjectName(QStringLiteral("FormListTree"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Prohlížeč sestav"));
    applyFormLook(this, settings);
    createActions();
    createWidgets();
    resize(560, 480);
    restoreWindowSize(this);
    updateActions();
    updateStatus();
}

ArchiveTree::~ArchiveTree()
{
    // Nothing may answer the tree's signals while the window comes apart.
    m_ui.tree->selectionModel()->disconnect(this);
    m_ui.tree->disconnect(this);
    m_ui.results->selectionModel()->disconnect(this);
    m_ui.tree->removeEventFilter(this);
    m_ui.results->removeEventFilter(this);
    m_search->disconnect(this);
    m_search->cancel();
    saveWindowSize(this);
    // The viewers refer to the report headers, which go with this window's members.
    closeViewers();
    qDeleteAll(findChildren<ReportViewer*>(Qt::FindDirectChildrenOnly));
}

void ArchiveTree::createActions()
{
    auto makeAction = [this](const QString& name, const QString& caption,
                             const QKeySequence& shortcut, pictures::Role picture,
                             const QString& hint) {
        auto* a = new QAction(pictures::roleIcon(picture), caption, this);
        // The toolbar button shows the caption with its access key (Alt and the letter).
        a->setIconText(caption);
        a->setObjectName(name);
        a->setShortcut(shortcut);
        a->setShortcutContext(Qt::WindowShortcut);
        a->setToolTip(hint);
        addAction(a);
        return a;
    };
    m_ui.viewAction = makeAction(QStringLiteral("viewAction"), QStringLiteral("&Náhled"),
                                 QKeySequence(Qt::CTRL | Qt::Key_V), pictures::Role::View,
                                 QStringLiteral("Textový náhled vybrané sestavy"));
    m_ui.printAction = makeAction(QStringLiteral("printAction"), QStringLiteral("&Tisk"),
                                  QKeySequence(Qt::CTRL | Qt::Key_P), pictures::Role::Print,
                                  QStringLiteral("Zařazení vybrané sestavy do tiskové fronty"));
    m_ui.deleteAction = makeAction(QStringLiteral("deleteAction"), QStringLiteral("&Odstranit"),
                                   QKeySequence(Qt::Key_Delete), pictures::Role::Delete,
                                   QStringLiteral("Odstranění vybrané sestavy"));
    connect(m_ui.viewAction, &QAction::triggered, this, &ArchiveTree::viewSelected);
    connect(m_ui.printAction, &QAction::triggered, this, &ArchiveTree::requeueSelected);
    connect(m_ui.deleteAction, &QAction::triggered, this, &ArchiveTree::deleteSelected);

    // Enter searches from the search field, and everywhere else opens the report the commands
    // act on (it is used up even when that is no report); Esc stops a running search, else
    // closes the window.
    for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        auto* enter = new QShortcut(QKeySequence(key), this);
        connect(enter, &QShortcut::activated, this, &ArchiveTree::onEnter);
    }
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &ArchiveTree::onEscape);
}

void ArchiveTree::createWidgets()
{
    QToolBar* bar = addToolBar(QStringLiteral("ToolBar"));
    bar->setObjectName(QStringLiteral("toolBar"));
    bar->setMovable(false);
    bar->setIconSize(QSize(16, 16));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->addActions({m_ui.viewAction, m_ui.printAction, m_ui.deleteAction});

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    createSearchWidgets(central);
    auto* searchRow = new QHBoxLayout;
    searchRow->setContentsMargins(4, 2, 4, 0);
    searchRow->addWidget(m_ui.searchEdit, 1);
    searchRow->addWidget(m_ui.diacriticsCheck);
    searchRow->addWidget(m_ui.searchProgress);
    searchRow->addWidget(m_ui.searchCount);
    layout->addLayout(searchRow);
    auto* splitter = new QSplitter(Qt::Vertical, central);
    splitter->setObjectName(QStringLiteral("splitter"));
    layout->addWidget(splitter, 1);
    setCentralWidget(central);

    m_ui.model = new QStandardItemModel(0, 1, this);
    m_ui.tree = new QTreeView(splitter);
    m_ui.tree->setObjectName(QStringLiteral("tree"));
    m_ui.tree->setModel(m_ui.model);
    m_ui.tree->setHeaderHidden(true);
    m_ui.tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_ui.tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ui.tree->setUniformRowHeights(true);
    // Captions are never cut short: a long one gets a scroll bar, whatever the font.
    m_ui.tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_ui.tree->header()->setStretchLastSection(false);
    splitter->addWidget(m_ui.tree);
    auto* resultsPane = new QWidget(splitter);
    resultsPane->setObjectName(QStringLiteral("resultsPane"));
    auto* resultsLayout = new QVBoxLayout(resultsPane);
    resultsLayout->setContentsMargins(0, 0, 0, 0);
    resultsLayout->addWidget(m_ui.noResults);
    resultsLayout->addWidget(m_ui.results, 1);
    resultsLayout->addStretch(0);
    splitter->addWidget(resultsPane);
    resultsPane->hide();
    // The commands follow whichever of the two lists the keyboard was in last.
    m_ui.tree->installEventFilter(this);
    m_ui.results->installEventFilter(this);
    setTabOrder(m_ui.searchEdit, m_ui.diacriticsCheck);
    setTabOrder(m_ui.diacriticsCheck, m_ui.tree);
    setTabOrder(m_ui.tree, m_ui.results);
    connect(m_ui.tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { onCurrentChanged(current); });
    connect(m_ui.tree, &QTreeView::expanded, this,
            [this](const QModelIndex& index) { onExpandedChanged(index, true); });
    connect(m_ui.tree, &QTreeView::collapsed, this,
            [this](const QModelIndex& index) { onExpandedChanged(index, false); });
    // A double click opens a report; on a year or month it only expands or collapses.
    connect(m_ui.tree, &QTreeView::doubleClicked, this, &ArchiveTree::viewSelected);

    m_ui.statusText = new QLabel(this);
    m_ui.statusText->setObjectName(QStringLiteral("statusText"));
    statusBar()->addWidget(m_ui.statusText, 1);
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("statusPanel%1").arg(i));
        // The last panel takes what is left, so that a long date and time stay whole.
        statusBar()->addWidget(panel, i < 3 ? 0 : 1);
        m_ui.statusPanels[i] = panel;
    }
    fitStatusPanels();
}

void ArchiveTree::fitStatusPanels()
{
    for (int i = 0; i < 4; ++i) {
        QLabel* panel = m_ui.statusPanels[i];
        const int width = std::max(kStatusPanelWidths[i], panel->sizeHint().width());
        if (i < 3)
            panel->setFixedWidth(width);
        else
            panel->setMinimumWidth(width);
    }
}

void ArchiveTree::createSearchWidgets(QWidget* parent)
{
    m_ui.searchEdit = new QLineEdit(parent);
    m_ui.searchEdit->setObjectName(QStringLiteral("searchEdit"));
    m_ui.searchEdit->setPlaceholderText(QStringLiteral("Hledat v archivu"));
    m_ui.searchEdit->setToolTip(QStringLiteral("Hledat v archivu (Ctrl+F)"));
    m_ui.searchEdit->setClearButtonEnabled(true);
    m_ui.diacriticsCheck = new QCheckBox(QStringLiteral("bez ohledu na &diakritiku"), parent);
    m_ui.diacriticsCheck->setObjectName(QStringLiteral("diacriticsCheck"));
    // A bar without text while the search runs; the counts stand beside it as plain text, so
    // that nothing there looks like a button.
    m_ui.searchProgress = new QProgressBar(parent);
    m_ui.searchProgress->setObjectName(QStringLiteral("searchProgress"));
    m_ui.searchProgress->setTextVisible(false);
    m_ui.searchProgress->setMaximumWidth(m_ui.searchProgress->fontMetrics().averageCharWidth() *
                                         12);
    m_ui.searchProgress->hide();
    m_ui.searchCount = new QLabel(parent);
    m_ui.searchCount->setObjectName(QStringLiteral("searchCount"));
    m_ui.searchCount->hide();

    m_ui.resultsModel = new QStandardItemModel(0, 7, this);
    m_ui.resultsModel->setHorizontalHeaderLabels(
        {QStringLiteral("Sestava"), QStringLiteral("Adresář"), QStringLiteral("Období"),
         QStringLiteral("Vytvořeno"), QStringLiteral("Strana"), QStringLiteral("Řádek"),
         QStringLiteral("Výskytů")});
    m_ui.results = new QTreeView(parent);
    m_ui.results->setObjectName(QStringLiteral("results"));
    m_ui.results->setModel(m_ui.resultsModel);
    m_ui.results->setRootIsDecorated(false);
    m_ui.results->setUniformRowHeights(true);
    m_ui.results->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_ui.results->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ui.results->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Every column as wide as its texts, whatever the font; a scroll bar when they are wider
    // than the list.
    m_ui.results->header()->setStretchLastSection(false);
    m_ui.results->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_ui.results->hide();
    connect(m_ui.results, &QTreeView::doubleClicked, this, &ArchiveTree::openResult);
    connect(m_ui.results->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &ArchiveTree::updateActions);
    m_ui.noResults = new QLabel(QStringLiteral("Nic nenalezeno."), parent);
    m_ui.noResults->setObjectName(QStringLiteral("noResults"));
    m_ui.noResults->setMargin(6);
    m_ui.noResults->hide();

    auto* find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
    connect(find, &QShortcut::activated, this, [this] {
        m_ui.searchEdit->setFocus(Qt::ShortcutFocusReason);
        m_ui.searchEdit->selectAll();
    });

    m_search = new ArchiveSearch(this);
    connect(m_search, &ArchiveSearch::hitsFound, this, &ArchiveTree::onHitsFound);
    connect(m_search, &ArchiveSearch::progress, this, [this](qint64 done, qint64 total) {
        m_filesDone = done;
        m_filesTotal = total;
        m_ui.searchProgress->setRange(0, int(std::min<qint64>(total, INT_MAX)));
        m_ui.searchProgress->setValue(int(std::min<qint64>(done, INT_MAX)));
        m_ui.searchCount->setText(QStringLiteral("nalezeno: %1, prohledáno: %2 z %3")
                                      .arg(m_hits.size())
                                      .arg(done)
                                      .arg(total));
        m_ui.searchCount->show();
    });
    connect(m_search, &ArchiveSearch::finished, this, &ArchiveTree::onSearchFinished);
    m_searchDelay = new QTimer(this);
    m_searchDelay->setSingleShot(true);
    m_searchDelay->setInterval(kSearchDelayMs);
    connect(m_searchDelay, &QTimer::timeout, this, &ArchiveTree::startSearch);
    connect(m_ui.searchEdit, &QLineEdit::textChanged, this, [this] {
        // The search that runs no longer answers what is typed.
        m_search->cancel();
        m_ui.searchProgress->hide();
        m_ui.searchCount->hide();
        m_searchDelay->start();
    });
    connect(m_ui.diacriticsCheck, &QCheckBox::toggled, this, [this] {
        if (!m_ui.searchEdit->text().isEmpty())
            startSearch();
    });
}

void ArchiveTree::startSearch()
{
    m_searchDelay->stop();
    m_search->cancel();
    m_ui.resultsModel->removeRows(0, m_ui.resultsModel->rowCount());
    m_hits.clear();
    m_filesDone = 0;
    m_filesTotal = 0;
    const QString text = m_ui.searchEdit->text();
    const bool searching = !text.isEmpty();
    m_ui.results->parentWidget()->setVisible(searching);
    m_ui.results->setVisible(searching);
    m_ui.noResults->hide();
    m_ui.searchProgress->setVisible(searching);
    m_ui.searchCount->hide();
    updateActions();
    if (!searching)
        return;
    m_ui.searchProgress->setRange(0, 0);
    m_search->start(archiveDirectories(m_settings.directories), text,
                    m_ui.diacriticsCheck->isChecked());
}

void ArchiveTree::onSearchFinished(bool cancelled)
{
    m_ui.searchProgress->hide();
    if (!m_ui.results->parentWidget()->isVisible())
        return; // the field was emptied meanwhile
    const QString searched = cancelled
                                 ? QStringLiteral("%1 z %2").arg(m_filesDone).arg(m_filesTotal)
                                 : QString::number(m_filesTotal);
    m_ui.searchCount->setText(
        QStringLiteral("nalezeno: %1, prohledáno: %2").arg(m_hits.size()).arg(searched));
    m_ui.searchCount->show();
    // A search that ran to its end and found nothing says so where the results would be.
    if (!cancelled && m_hits.empty()) {
        m_ui.results->hide();
        m_ui.noResults->show();
        updateActions();
    }
}

void ArchiveTree::onHitsFound(const QList<ArchiveSearchHit>& hits)
{
    // Results stand in the order of the tree: year, month, title, creation.
    QStandardItemModel* model = m_ui.resultsModel;
    const auto hitAt = [this, model](int row) -> const ArchiveSearchHit& {
        return m_hits[size_t(model->item(row)->data(kHitRole).toLongLong())];
    };
    for (const ArchiveSearchHit& hit : hits) {
        m_hits.push_back(hit);
        const ReportHeader& report = hit.report;
        int low = 0;
        int high = model->rowCount();
        while (low < high) {
            const int mid = (low + high) / 2;
            if (reportBefore(report, hitAt(mid).report))
                high = mid;
            else
                low = mid + 1;
        }
        const auto cell = [](const QString& text, bool number = false) {
            auto* item = new QStandardItem(text);
            item->setEditable(false);
            if (number)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            return item;
        };
        QList<QStandardItem*> row = {
            cell(cp1250ToUnicode(report.title)),
            cell(platform::displayFileName(spoolDirectoryOf(report.fileName))),
            cell(cp1250ToUnicode(report.period)),
            cell(createdText(report.created)),
            cell(QString::number(hit.page), true),
            cell(QString::number(hit.line), true),
            cell(QString::number(hit.hits), true),
        };
        row.front()->setData(qlonglong(m_hits.size() - 1), kHitRole);
        row.front()->setToolTip(report.fileName);
        model->insertRow(low, row);
    }
}

void ArchiveTree::openCurrentResult()
{
    QModelIndex index = m_ui.results->currentIndex();
    if (!index.isValid())
        index = m_ui.resultsModel->index(0, 0);
    openResult(index);
}

void ArchiveTree::openResult(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    const QStandardItem* item = m_ui.resultsModel->item(index.row());
    const ArchiveSearchHit& hit = m_hits.at(size_t(item->data(kHitRole).toLongLong()));
    // The viewer refers to its report's header, which lives as long as this window.
    m_openedResults.push_back(std::make_unique<ReportHeader>(hit.report));
    if (ReportViewer* viewer =
            ReportViewer::showReport(this, *m_openedResults.back(),
                                     /*previewOnly*/ false, &m_queue, &m_settings))
        viewer->showRow(hit.viewerRow);
}

void ArchiveTree::onEnter()
{
    if (focusWidget() == m_ui.searchEdit)
        startSearch();
    else
        viewSelected();
}

bool ArchiveTree::resultsActive() const
{
    if (m_ui.results->isHidden())
        return false;
    const QWidget* focus = focusWidget();
    return focus == m_ui.results || (focus != m_ui.tree && m_resultsLastUsed);
}

int ArchiveTree::currentResultRow() const
{
    const QModelIndex current = m_ui.results->currentIndex();
    return current.isValid() ? current.row() : -1;
}

const ArchiveSearchHit& ArchiveTree::hitOfRow(int row) const
{
    return m_hits.at(size_t(m_ui.resultsModel->item(row)->data(kHitRole).toLongLong()));
}

bool ArchiveTree::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::FocusIn && (watched == m_ui.tree || watched == m_ui.results)) {
        m_resultsLastUsed = watched == m_ui.results;
        updateActions();
    }
    return QMainWindow::eventFilter(watched, e);
}

void ArchiveTree::onEscape()
{
    if (m_search->running() || m_searchDelay->isActive()) {
        m_searchDelay->stop();
        m_search->cancel();
        return;
    }
    close();
}

void ArchiveTree::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (!m_directoriesBuilt) {
        m_directoriesBuilt = true;
        buildDirectoryLevel();
        // The arrow keys move in the tree from the start; Ctrl+F goes to the search field.
        m_ui.tree->setFocus(Qt::OtherFocusReason);
    }
}

void ArchiveTree::buildDirectoryLevel()
{
    HourglassCursor wait;
    m_ui.model->removeRows(0, m_ui.model->rowCount());
    m_directories.clear();
    for (const QString& path : archiveDirectories(m_settings.directories))
        m_directories.push_back(ArchiveDirectory{path, false, {}});
    const QIcon folder = pictures::roleIcon(pictures::Role::FolderClosed);
    for (size_t i = 0; i < m_directories.size(); ++i) {
        if (!QFileInfo(m_directories[i].path).isDir())
            continue;
        QStandardItem* node = makeNode(m_directories[i].path, Level::Directory, folder);
        node->setData(int(i), kDirectoryRole);
        m_ui.model->appendRow(node);
    }
}

ArchiveTree::Level ArchiveTree::levelOf(const QModelIndex& index)
{
    return index.isValid() ? Level(index.data(kLevelRole).toInt()) : Level::None;
}

const ReportHeader* ArchiveTree::reportOf(const QModelIndex& index)
{
    if (levelOf(index) != Level::Report)
        return nullptr;
    return reinterpret_cast<const ReportHeader*>(index.data(kReportRole).value<quintptr>());
}

void ArchiveTree::onCurrentChanged(const QModelIndex& current)
{
    updateActions();
    if (levelOf(current) == Level::Directory) {
        QStandardItem* node = m_ui.model->itemFromIndex(current);
        const ArchiveDirectory& dir = m_directories.at(node->data(kDirectoryRole).toInt());
        {
            HourglassCursor wait;
            m_organisation = organisationName(dir.path);
        }
        if (!dir.scanned && !scanDirectory(node))
            return;
    }
    updateStatus();
}

bool ArchiveTree::scanDirectory(QStandardItem* node)
{
    ArchiveDirectory& dir = m_directories.at(node->data(kDirectoryRole).toInt());
    dir.scanned = true;
    const QString caption = node->text();
    node->setText(caption + QStringLiteral(" - načítání sestav..."));
    m_ui.tree->viewport()->repaint();
    // Lets the changed caption reach the screen; the user's input waits until the scan is done.
    const QPointer<ArchiveTree> alive(this);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (!alive)
        return false;
    {
        HourglassCursor wait;
        dir.reports = scanArchiveDirectory(dir.path);
        appendReportNodes(node, dir.reports);
    }
    node->setText(caption);
    return true;
}

void ArchiveTree::appendReportNodes(QStandardItem* node, const ArchivedReports& reports)
{
    const QIcon book = pictures::roleIcon(pictures::Role::BookClosed);
    const QIcon portrait = pictures::roleIcon(pictures::Role::PortraitPage);
    const QIcon landscape = pictures::roleIcon(pictures::Role::LandscapePage);
    const int maxPortrait = m_settings.maxPortrait;
    const std::vector<YearGroup> groups = groupReports(reports);
    if (groups.empty())
        return;
    // The column first, on its own (here and on every node that gets children): a parent without
    // one would insert it in the midst of inserting the rows, which views do not expect.
    node->setColumnCount(1);
    // Each level joins the model empty, then gets its children in one insertion: an item that
    // joins with grandchildren leaves them outside the model (no removal would reach the view).
    QList<QStandardItem*> years;
    for (const YearGroup& year : groups) {
        QStandardItem* yearNode = makeNode(
            QStringLiteral("%1").arg(year.year, 4, 10, QLatin1Char('0')), Level::Year, book);
        yearNode->setData(year.year, kYearRole);
        yearNode->setColumnCount(1);
        years << yearNode;
    }
    node->appendRows(years);
    for (size_t y = 0; y < groups.size(); ++y) {
        const YearGroup& year = groups[y];
        QList<QStandardItem*> months;
        for (const MonthGroup& month : year.months) {
            QStandardItem* monthNode = makeNode(monthCaption(month.month), Level::Month, book);
            monthNode->setData(year.year, kYearRole);
            monthNode->setData(month.month, kMonthRole);
            monthNode->setColumnCount(1);
            months << monthNode;
        }
        years[qsizetype(y)]->appendRows(months);
        for (size_t m = 0; m < year.months.size(); ++m) {
            QList<QStandardItem*> rows;
            rows.reserve(qsizetype(year.months[m].reports.size()));
            for (const ReportHeader* report : year.months[m].reports) {
                QStandardItem* reportNode =
                    makeNode(cp1250ToUnicode(report->title), Level::Report,
                             report->width <= maxPortrait ? portrait : landscape);
                reportNode->setData(QVariant::fromValue(reinterpret_cast<quintptr>(report)),
                                    kReportRole);
                rows << reportNode;
            }
            months[qsizetype(m)]->appendRows(rows);
        }
    }
}

void ArchiveTree::onExpandedChanged(const QModelIndex& index, bool expanded)
{
    QStandardItem* node = m_ui.model->itemFromIndex(index);
    if (!node)
        return;
    switch (levelOf(index)) {
    case Level::Directory:
        node->setIcon(pictures::roleIcon(expanded ? pictures::Role::FolderOpen
                                                  : pictures::Role::FolderClosed));
        break;
    case Level::Year:
    case Level::Month:
        node->setIcon(
            pictures::roleIcon(expanded ? pictures::Role::BookOpen : pictures::Role::BookClosed));
        break;
    default:
        break;
    }
}

void ArchiveTree::viewSelected()
{
    if (resultsActive())
        openResult(m_ui.resultsModel->index(currentResultRow(), 0));
    else if (const ReportHeader* report = reportOf(m_ui.tree->currentIndex()))
        ReportViewer::showReport(this, *report, /*previewOnly*/ false, &m_queue, &m_settings);
}

void ArchiveTree::requeueSelected()
{
    if (resultsActive()) {
        const int row = currentResultRow();
        if (row < 0)
            return;
        const ReportHeader report = hitOfRow(row).report;
        requeueReport(&report, m_queue);
    } else if (const ReportHeader* report = reportOf(m_ui.tree->currentIndex())) {
        requeueReport(report, m_queue);
    }
}

void ArchiveTree::deleteSelected()
{
    if (resultsActive()) {
        if (currentResultRow() >= 0)
            deleteResult(currentResultRow());
        return;
    }
    const QPersistentModelIndex current = m_ui.tree->currentIndex();
    const ReportHeader* report = reportOf(current);
    if (!report)
        return;
    const QString fileName = report->fileName;
    if (deleteReport(report, events::FromArchiveTree) != DeleteResult::Deleted)
        return;
    if (current.isValid())
        m_ui.model->removeRow(current.row(), current.parent());
    afterDeletion(fileName);
}

void ArchiveTree::deleteResult(int row)
{
    // A copy: more hits may arrive while the user is asked.
    const ReportHeader report = hitOfRow(row).report;
    if (deleteReport(&report, events::FromArchiveTree) != DeleteResult::Deleted)
        return;
    removeReportNodes(report.fileName);
    afterDeletion(report.fileName);
}

void ArchiveTree::afterDeletion(const QString& fileName)
{
    removeResultRows(fileName);
    // The report's viewers close with it; the keyboard comes back to the list, at the row that
    // took the deleted one's place, and the window redraws without waiting for a click.
    QCoreApplication::sendPostedEvents(nullptr, events::kReportDeleted);
    closeViewersOf(fileName);
    returnToList();
}

void ArchiveTree::returnToList()
{
    if (!isVisible())
        return;
    activateWindow();
    QTreeView* list = m_resultsLastUsed && m_ui.results->isVisible() ? m_ui.results : m_ui.tree;
    list->setFocus(Qt::OtherFocusReason);
    list->scrollTo(list->currentIndex());
    list->viewport()->update();
}

bool ArchiveTree::removeReportNode(const void* report)
{
    return removeFirstReportNode([report](const ReportHeader* node) { return node == report; });
}

void ArchiveTree::removeReportNodes(const QString& fileName)
{
    if (fileName.isEmpty())
        return;
    while (removeFirstReportNode(
        [&fileName](const ReportHeader* node) { return node->fileName == fileName; })) {
    }
}

bool ArchiveTree::removeFirstReportNode(const std::function<bool(const ReportHeader*)>& matches)
{
    // The first report node in tree order that carries the report.
    const QStandardItemModel* model = m_ui.model;
    for (int d = 0; d < model->rowCount(); ++d) {
        const QModelIndex dirNode = model->index(d, 0);
        for (int y = 0; y < model->rowCount(dirNode); ++y) {
            const QModelIndex yearNode = model->index(y, 0, dirNode);
            for (int m = 0; m < model->rowCount(yearNode); ++m) {
                const QModelIndex monthNode = model->index(m, 0, yearNode);
                for (int r = 0; r < model->rowCount(monthNode); ++r) {
                    const ReportHeader* node = reportOf(model->index(r, 0, monthNode));
                    if (node && matches(node)) {
                        m_ui.model->removeRow(r, monthNode);
                        return true;
                    }
                }
            }
        }
    }
    return false;
}

bool ArchiveTree::event(QEvent* e)
{
    if (e->type() == events::kReportDeleted) {
        const auto* deleted = static_cast<events::ReportDeletedEvent*>(e);
        // A deletion made here has already removed its node, its results and its viewers.
        if (deleted->origin == events::FromArchiveTree)
            return true;
        if (deleted->origin == events::FromViewer) {
            // A viewer opened from the search results has a header of its own: known by its
            // file.
            if (!removeReportNode(deleted->report))
                removeReportNodes(deleted->fileName);
        } else {
            // An archived report put back into the print queue, deleted when its printing
            // failed: the tree knows it by its file only.
            removeReportNodes(deleted->fileName);
        }
        removeResultRows(deleted->fileName);
        closeViewersOf(deleted->fileName);
        if (deleted->origin == events::FromViewer)
            returnToList();
        return true;
    }
    return QMainWindow::event(e);
}

void ArchiveTree::removeResultRows(const QString& fileName)
{
    if (fileName.isEmpty())
        return;
    for (int row = m_ui.resultsModel->rowCount() - 1; row >= 0; --row)
        if (hitOfRow(row).report.fileName == fileName)
            m_ui.resultsModel->removeRow(row);
}

void ArchiveTree::closeViewersOf(const QString& fileName)
{
    // Viewers of the same report opened from the tree and from the results have headers of
    // their own; the file is what they share.
    if (fileName.isEmpty())
        return;
    const QList<ReportViewer*> viewers = findChildren<ReportViewer*>(Qt::FindDirectChildrenOnly);
    for (ReportViewer* viewer : viewers)
        if (viewer->isVisible() && viewer->report().fileName == fileName)
            viewer->close();
}

void ArchiveTree::closeEvent(QCloseEvent* e)
{
    closeViewers();
    QMainWindow::closeEvent(e);
}

void ArchiveTree::closeViewers()
{
    const QList<ReportViewer*> viewers = findChildren<ReportViewer*>(Qt::FindDirectChildrenOnly);
    for (ReportViewer* viewer : viewers)
        viewer->close();
}

void ArchiveTree::updateActions()
{
    const bool report = resultsActive() ? currentResultRow() >= 0
                                        : levelOf(m_ui.tree->currentIndex()) == Level::Report;
    m_ui.viewAction->setEnabled(report);
    m_ui.printAction->setEnabled(report);
    m_ui.deleteAction->setEnabled(report);
}

void ArchiveTree::updateStatus()
{
    const ReportHeader* report = reportOf(m_ui.tree->currentIndex());
    m_ui.statusText->setVisible(!report);
    for (QLabel* panel : m_ui.statusPanels)
        panel->setVisible(report);
    if (!report) {
        m_ui.statusText->setText(m_organisation);
        return;
    }
    m_ui.statusPanels[0]->setText(
        QStringLiteral("období: %1").arg(cp1250ToUnicode(report->period)));
    m_ui.statusPanels[1]->setText(QStringLiteral("stran: %1").arg(report->pages));
    m_ui.statusPanels[2]->setText(QStringLiteral("šířka: %1").arg(report->width));
    m_ui.statusPanels[3]->setText(createdText(report->created));
    fitStatusPanels();
}

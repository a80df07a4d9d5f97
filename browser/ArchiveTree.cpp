#include "browser/ArchiveTree.h"

#include "browser/FindTextDialog.h" // ReportViewer.h hands out its find dialog inline
#include "browser/ReportActions.h"
#include "browser/ReportViewer.h"
#include "config/AppSettings.h"
#include "config/FormLook.h"
#include "core/Events.h"
#include "core/MessageDlg.h"
#include "report/CodePages.h"
#include "resources/Pictures.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QShortcut>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeView>

namespace {

constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kReportRole = Qt::UserRole + 2;    // the report's header, as its address
constexpr int kDirectoryRole = Qt::UserRole + 3; // index into the archive directory list
constexpr int kYearRole = Qt::UserRole + 4;
constexpr int kMonthRole = Qt::UserRole + 5;

QPointer<ArchiveTree> g_window;

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

    // Enter opens the selected report wherever the focus is (and is used up even when the
    // selection is no report); Esc closes the window.
    for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        auto* enter = new QShortcut(QKeySequence(key), this);
        connect(enter, &QShortcut::activated, this, &ArchiveTree::viewSelected);
    }
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

void ArchiveTree::createWidgets()
{
    QToolBar* bar = addToolBar(QStringLiteral("ToolBar"));
    bar->setObjectName(QStringLiteral("toolBar"));
    bar->setMovable(false);
    bar->setIconSize(QSize(16, 16));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->addActions({m_ui.viewAction, m_ui.printAction, m_ui.deleteAction});

    m_ui.model = new QStandardItemModel(0, 1, this);
    m_ui.tree = new QTreeView(this);
    m_ui.tree->setObjectName(QStringLiteral("tree"));
    m_ui.tree->setModel(m_ui.model);
    m_ui.tree->setHeaderHidden(true);
    m_ui.tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_ui.tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ui.tree->setUniformRowHeights(true);
    setCentralWidget(m_ui.tree);
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
    const int widths[4] = {120, 100, 80, 50};
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("statusPanel%1").arg(i));
        // The last panel takes what is left, so that a long date and time stay whole.
        if (i < 3)
            panel->setFixedWidth(widths[i]);
        else
            panel->setMinimumWidth(widths[i]);
        statusBar()->addWidget(panel, i < 3 ? 0 : 1);
        m_ui.statusPanels[i] = panel;
    }
}

void ArchiveTree::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (!m_directoriesBuilt) {
        m_directoriesBuilt = true;
        buildDirectoryLevel();
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
    // The whole subtree is built before it joins the model, so the view hears of it once.
    QList<QStandardItem*> years;
    for (const YearGroup& year : groupReports(reports)) {
        QStandardItem* yearNode = makeNode(
            QStringLiteral("%1").arg(year.year, 4, 10, QLatin1Char('0')), Level::Year, book);
        yearNode->setData(year.year, kYearRole);
        for (const MonthGroup& month : year.months) {
            QStandardItem* monthNode = makeNode(monthCaption(month.month), Level::Month, book);
            monthNode->setData(year.year, kYearRole);
            monthNode->setData(month.month, kMonthRole);
            QList<QStandardItem*> rows;
            rows.reserve(qsizetype(month.reports.size()));
            for (const ReportHeader* report : month.reports) {
                QStandardItem* reportNode =
                    makeNode(cp1250ToUnicode(report->title), Level::Report,
                             report->width <= maxPortrait ? portrait : landscape);
                reportNode->setData(QVariant::fromValue(reinterpret_cast<quintptr>(report)),
                                    kReportRole);
                rows << reportNode;
            }
            monthNode->appendRows(rows);
            yearNode->appendRow(monthNode);
        }
        years << yearNode;
    }
    if (years.isEmpty())
        return;
    // The column first, on its own: a parent without one would insert it in the midst of
    // inserting the rows, which views do not expect.
    node->setColumnCount(1);
    node->appendRows(years);
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
    if (const ReportHeader* report = reportOf(m_ui.tree->currentIndex()))
        ReportViewer::showReport(this, *report, /*previewOnly*/ false, &m_queue, &m_settings);
}

void ArchiveTree::requeueSelected()
{
    if (const ReportHeader* report = reportOf(m_ui.tree->currentIndex()))
        requeueReport(report, m_queue);
}

void ArchiveTree::deleteSelected()
{
    const QPersistentModelIndex current = m_ui.tree->currentIndex();
    const ReportHeader* report = reportOf(current);
    if (!report)
        return;
    if (deleteReportEx(report, events::FromArchiveTree) == DeleteResult::Deleted &&
        current.isValid())
        m_ui.model->removeRow(current.row(), current.parent());
}

void ArchiveTree::removeReportNode(const void* report)
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
                    if (reportOf(model->index(r, 0, monthNode)) == report) {
                        m_ui.model->removeRow(r, monthNode);
                        return;
                    }
                }
            }
        }
    }
}

bool ArchiveTree::event(QEvent* e)
{
    if (e->type() == events::kReportDeleted) {
        // A deletion made here has already removed its node.
        const auto* deleted = static_cast<events::ReportDeletedEvent*>(e);
        if (deleted->origin == events::FromViewer)
            removeReportNode(deleted->report);
        return true;
    }
    return QMainWindow::event(e);
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
    const bool report = levelOf(m_ui.tree->currentIndex()) == Level::Report;
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
}

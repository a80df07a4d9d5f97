#pragma once

#include "core/archive/ArchiveScan.h"
#include "core/archive/ArchiveSearch.h"

#include <QMainWindow>

#include <functional>

class JobState;
class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;
class QModelIndex;
class QStandardItem;
class QStandardItemModel;
class QTreeView;
struct AppSettings;

// The archive browser: the reports printing has moved into the archive directories, grouped by
// directory, year and month. A directory is read the first time its node is selected; from a
// report node the user opens a viewer, puts the report back into the print queue or deletes it.
// At most one such window exists; closing it destroys it together with its viewers.
//
// Above the tree, a search field looks for text in every archived report of every archive
// directory (ArchiveSearch), at once on Enter or when typing pauses; the reports that hold it are
// listed below the tree as they are found, each with its spool directory, and one opens in a
// viewer at its first hit. The commands act on the current search result while the results list
// was the last of the two lists in use, otherwise on the selected node of the tree.
class ArchiveTree : public QMainWindow
{
    Q_OBJECT
public:
    // Creates the window when none exists (a window of its own that `owner` destroys with
    // itself), then shows and activates it. The settings and the queue must outlive the window.
    static ArchiveTree* showArchiveTree(const AppSettings& settings, JobState& queue,
                                        QWidget* owner = nullptr);
    // The window while it exists, else nullptr.
    static ArchiveTree* instance();

    ~ArchiveTree() override;

    // What a node of the tree stands for.
    enum class Level
    {
        None, // no node
        Directory,
        Year,
        Month,
        Report
    };
    static Level levelOf(const QModelIndex& index);
    // The report a node carries; nullptr for every other node.
    static const ReportHeader* reportOf(const QModelIndex& index);

    // Act on the current search result or the selected node (see above); nothing happens
    // unless that is a report. A report deleted here leaves the tree, the results and its
    // viewers.
    void viewSelected();
    void requeueSelected();
    void deleteSelected();

    // Starts searching the archive for what the search field holds, at once; an empty field
    // stops the search and hides the results.
    void startSearch();
    // Opens the viewer of the current search result (the first one when none is current),
    // scrolled to its first hit.
    void openCurrentResult();
    // The result rows' columns.
    enum ResultColumn
    {
        TitleColumn,
        DirectoryColumn, // the spool directory whose archive holds the report
        PeriodColumn,
        CreatedColumn,
        PageColumn,
        LineColumn,
        HitsColumn
    };

    struct Widgets
    {
        QTreeView* tree;
        QStandardItemModel* model;
        QAction* viewAction;
        QAction* printAction;
        QAction* deleteAction;
        QLabel* statusText;      // the organisation, across the whole bar
        QLabel* statusPanels[4]; // period, pages, width, created: for a report
        QLineEdit* searchEdit;
        QCheckBox* diacriticsCheck;   // "bez ohledu na diakritiku"
        QProgressBar* searchProgress; // while a search runs
        QLabel* searchCount;          // after it: how many reports held the text, of how many
        QTreeView* results;
        QStandardItemModel* resultsModel;
        QLabel* noResults; // "Nic nenalezeno." in place of the results
    };
    const Widgets& ui() const { return m_ui; }

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    ArchiveTree(const AppSettings& settings, JobState& queue, QWidget* owner);
    void createActions();
    void createWidgets();
    void buildDirectoryLevel();
    void onCurrentChanged(const QModelIndex& current);
    // False when the window was destroyed while the loading caption was being shown.
    bool scanDirectory(QStandardItem* node);
    void appendReportNodes(QStandardItem* node, const ArchivedReports& reports);
    void onExpandedChanged(const QModelIndex& index, bool expanded);
    // True when a node carried the report.
    bool removeReportNode(const void* report);
    void removeReportNodes(const QString& fileName);
    // Removes the first report node in tree order that matches; false when none does.
    bool removeFirstReportNode(const std::function<bool(const ReportHeader*)>& matches);
    // After a deletion: the window in front, the keyboard in the list last used, at its current
    // row.
    void returnToList();
    void updateActions();
    void updateStatus();
    // Status panels as wide as their texts need, and at least as wide as their usual width.
    void fitStatusPanels();
    void closeViewers();
    void createSearchWidgets(QWidget* parent);
    void onHitsFound(const QList<ArchiveSearchHit>& hits);
    void onSearchFinished(bool cancelled);
    void openResult(const QModelIndex& index);
    // True when the commands act on the search results rather than on the tree.
    bool resultsActive() const;
    // The current result row, or -1.
    int currentResultRow() const;
    const ArchiveSearchHit& hitOfRow(int row) const;
    void deleteResult(int row);
    // A report deleted here, its node already gone: its results and viewers go too, and the
    // keyboard comes back to the list last used.
    void afterDeletion(const QString& fileName);
    void onEnter();
    void onEscape();
    // A report gone to the trash: its result rows go, and its viewers here close.
    void removeResultRows(const QString& fileName);
    void closeViewersOf(const QString& fileName);

    struct ArchiveDirectory
    {
        QString path;
        bool scanned = false;
        ArchivedReports reports; // owned for the window's lifetime; nodes and viewers refer to them
    };

    const AppSettings& m_settings;
    JobState& m_queue;
    Widgets m_ui{};
    std::vector<ArchiveDirectory> m_directories;
    QString m_organisation;
    bool m_directoriesBuilt = false;
    ArchiveSearch* m_search = nullptr;
    QTimer* m_searchDelay = nullptr;
    qint64 m_filesDone = 0;
    qint64 m_filesTotal = 0;
    // The results list, not the tree, was the last of the two to have the keyboard.
    bool m_resultsLastUsed = false;
    // The hits of the current search, in the order they came; result rows refer to them.
    std::vector<ArchiveSearchHit> m_hits;
    // The headers of reports opened from the results, which their viewers refer to.
    std::vector<std::unique_ptr<ReportHeader>> m_openedResults;
};

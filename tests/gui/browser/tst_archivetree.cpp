#include "WindowChecks.h"
#include "core/archive/Archive.h"
#include "core/config/AppSettings.h"
#include "core/jobs/JobState.h"
#include "core/report/ReportHeader.h"
#include "gui/browser/ArchiveTree.h"
#include "gui/browser/ReportViewer.h"
#include "gui/common/Events.h"
#include "gui/common/MessageDlg.h"
#include "gui/common/Pictures.h"
#include "support/TestReport.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

namespace {

// Writes a valid report of January 2024 (unless `date` says otherwise) and dates the file a
// minute back, so that nobody counts as still writing it.
void writeReport(const QString& path, const QByteArray& title, const QByteArray& date = "20240131",
                 const QByteArray& time = "08150000", int width = 80)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(
        reportText({1, date, time, title, width, 2, 60, 0, 1250, 100, 0, "01/2024"}, "line\r\n"));
    QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                          QFileDevice::FileModificationTime));
}

// The tree below `parent`, one line per node, indented by level; report nodes end with "|P" or
// "|L" for their portrait or landscape page.
void dump(const QAbstractItemModel* model, const QModelIndex& parent, int depth, QStringList& out)
{
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        QString line = QString(depth * 2, u' ') + index.data().toString();
        if (ArchiveTree::levelOf(index) == ArchiveTree::Level::Report) {
            const qint64 icon = index.data(Qt::DecorationRole).value<QIcon>().cacheKey();
            line += icon == pictures::roleIcon(pictures::Role::PortraitPage).cacheKey()
                        ? QStringLiteral("|P")
                    : icon == pictures::roleIcon(pictures::Role::LandscapePage).cacheKey()
                        ? QStringLiteral("|L")
                        : QStringLiteral("|?");
        }
        out << line;
        dump(model, index, depth + 1, out);
    }
}

// What the font cuts: the window's own widgets, and the tree's captions and the search results'
// cells, which the window checks do not reach.
QStringList cutTexts(ArchiveTree* window)
{
    QStringList cut = windowchecks::cutOrOutside(window);
    const auto check = [&cut](const QString& text, const QFontMetrics& metrics, int width) {
        if (width < metrics.horizontalAdvance(text))
            cut << QStringLiteral("%1 (%2 < %3)")
                       .arg(text)
                       .arg(width)
                       .arg(metrics.horizontalAdvance(text));
    };
    for (QTreeView* view : {window->ui().tree, window->ui().results}) {
        if (!view->isVisible())
            continue;
        const QAbstractItemModel* model = view->model();
        for (int column = 0; column < model->columnCount(); ++column) {
            for (QModelIndex index = model->index(0, column); index.isValid();
                 index = view->indexBelow(index))
                check(index.data().toString(), view->fontMetrics(),
                      view->visualRect(index).width());
        }
    }
    return cut;
}

} // namespace

class TestArchiveTree : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void levelsOrderAndIcons();
    void directoryIsScannedOnce();
    void deletionFromViewerRemovesOnlyTheReport();
    void oneWindowClosedWithItsViewers();
    void deletedReportLeavesTheViewAtOnce();
    void accessKeysOnceEach();
    void largeFontKeepsTextsWhole();

private:
    ArchiveTree* open();
    QStringList tree() const;
    // The node at a path of rows from the top.
    QModelIndex at(std::initializer_list<int> rows) const;
    void select(const QModelIndex& index);
    QString archive(const QString& spool) const
    {
        return m_root.filePath(spool) + QStringLiteral("/BAKPRN");
    }

    QTemporaryDir m_root;
    AppSettings m_settings;
    JobState m_queue;
    ArchiveTree* m_window = nullptr;
};

void TestArchiveTree::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("config"))));
    m_settings.maxPortrait = 96;
}

void TestArchiveTree::init()
{
    for (const char* spool : {"a", "b", "c"}) {
        QDir(m_root.filePath(QLatin1String(spool))).removeRecursively();
        QVERIFY(QDir().mkpath(archive(QLatin1String(spool))));
    }
    // A run of separators, an entry with its own trailing "/", a spool without an archive.
    m_settings.directories = m_root.filePath(QStringLiteral("a")) + QStringLiteral(";;") +
                             m_root.filePath(QStringLiteral("none")) + u';' +
                             m_root.filePath(QStringLiteral("b")) + QStringLiteral("/;");
}

void TestArchiveTree::cleanup()
{
    delete ArchiveTree::instance();
    m_window = nullptr;
}

ArchiveTree* TestArchiveTree::open()
{
    m_window = ArchiveTree::showArchiveTree(m_settings, m_queue);
    // The model is checked through everything each test does with the window.
    new QAbstractItemModelTester(m_window->ui().model,
                                 QAbstractItemModelTester::FailureReportingMode::QtTest,
                                 m_window->ui().model);
    return m_window;
}

QStringList TestArchiveTree::tree() const
{
    QStringList lines;
    dump(m_window->ui().model, {}, 0, lines);
    return lines;
}

QModelIndex TestArchiveTree::at(std::initializer_list<int> rows) const
{
    QModelIndex index;
    for (const int row : rows)
        index = m_window->ui().model->index(row, 0, index);
    return index;
}

void TestArchiveTree::select(const QModelIndex& index)
{
    m_window->ui().tree->setCurrentIndex(index);
}

void TestArchiveTree::levelsOrderAndIcons()
{
    const QString a = archive(QStringLiteral("a"));
    writeReport(a + QStringLiteral("/20240131-081500-LST00001.PRN"),
                "\x8A"
                "koda",
                "20240131", "08150000", 97);
    writeReport(a + QStringLiteral("/20240131-081501-LST00002.PRN"), "Zeta", "20240131", "08150100",
                96);
    writeReport(a + QStringLiteral("/20240131-081502-lst00003.prn"), "alfa");
    // Same title: the older one comes first whatever the listing order.
    writeReport(a + QStringLiteral("/20240131-100000-LST00004.PRN"), "mzdy", "20240131",
                "10000000");
    writeReport(a + QStringLiteral("/20240131-090000-LST00005.PRN"), "mzdy", "20240131", "09000000",
                200);
    writeReport(a + QStringLiteral("/20241301-081500-LST00006.PRN"), "month 13", "20241301");
    writeReport(a + QStringLiteral("/20231205-081500-LST00007.PRN"), "older", "20231205");
    // Not archived report names, though their headers are valid.
    writeReport(a + QStringLiteral("/20240131-0815-LST00008.PRN"), "short time");
    writeReport(a + QStringLiteral("/20240131-081500-LST00009.TXT"), "text file");
    // A header cut short is left out without a word.
    writeReport(a + QStringLiteral("/20240131-081500-LST00010.PRN"), "cut short");
    QVERIFY(QFile::resize(a + QStringLiteral("/20240131-081500-LST00010.PRN"), 20));

    open();
    const QString b = archive(QStringLiteral("b"));
    QCOMPARE(tree(), QStringList({a, b}));
    select(at({0}));
    QCOMPARE(tree(), QStringList({a, u"  2023"_qs, u"    Prosinec"_qs, u"      older|P"_qs,
                                  u"  2024"_qs, u"    Leden"_qs, u"      Zeta|P"_qs,
                                  u"      alfa|P"_qs, u"      mzdy|L"_qs, u"      mzdy|P"_qs,
                                  u"      Škoda|L"_qs, u"    "_qs, u"      month 13|P"_qs, b}));
    QCOMPARE(m_window->ui().statusText->text(), QString());

    // The status bar describes the older of the two equal titles.
    const QModelIndex january = at({0, 1, 0});
    select(at({0, 1, 0, 2}));
    QCOMPARE(m_window->ui().statusPanels[0]->text(), u"období: 01/2024"_qs);
    QCOMPARE(m_window->ui().statusPanels[2]->text(), u"šířka: 200"_qs);
    QVERIFY(m_window->ui().statusPanels[3]->text().contains(u"9"));
    QVERIFY(m_window->ui().viewAction->isEnabled());
    select(january);
    QVERIFY(!m_window->ui().viewAction->isEnabled());
    // Enter on a month opens nothing.
    QTest::keyClick(m_window->ui().tree, Qt::Key_Return);
    QVERIFY(m_window->findChildren<ReportViewer*>().isEmpty());
}

void TestArchiveTree::directoryIsScannedOnce()
{
    const QString b = archive(QStringLiteral("b"));
    open();
    const QModelIndex node = m_window->ui().model->index(1, 0);
    select(node);
    QCOMPARE(m_window->ui().model->rowCount(node), 0);
    QCOMPARE(node.data().toString(), b);

    // Archived after the first look: not seen until the window is opened again.
    writeReport(b + QStringLiteral("/20240131-081500-LST00001.PRN"), "late");
    select(at({0}));
    select(node);
    QCOMPARE(m_window->ui().model->rowCount(node), 0);

    // A large directory is read by several threads: nothing lost, nothing invalid let in.
    QStringList titles;
    for (int i = 2; i <= 100; ++i) {
        const QString path =
            b + QStringLiteral("/20240131-081500-LST%1.PRN").arg(i, 5, 10, QLatin1Char('0'));
        writeReport(path, "r" + QByteArray::number(i));
        if (i % 10 == 0)
            QVERIFY(QFile::resize(path, 20));
        else
            titles << QStringLiteral("r%1").arg(i);
    }
    // One archived the way printing archives reports.
    const QString spooled = m_root.filePath(QStringLiteral("b/LST00101.PRN"));
    writeReport(spooled, "printed");
    ReportHeader printed(spooled);
    QVERIFY(printed.loadHeader());
    QCOMPARE(disposeReport(printed, false).outcome, DisposeResult::Disposed);
    titles << QStringLiteral("printed");
    titles.sort();
    QStringList expected({b, u"  2024"_qs, u"    Leden"_qs, u"      late|P"_qs});
    for (const QString& title : titles)
        expected << u"      "_qs + title + u"|P"_qs;
    delete m_window;
    open();
    select(at({1}));
    QCOMPARE(tree().mid(1), expected);
}

void TestArchiveTree::deletionFromViewerRemovesOnlyTheReport()
{
    const QString a = archive(QStringLiteral("a"));
    writeReport(a + QStringLiteral("/20240131-081500-LST00001.PRN"), "first");
    writeReport(a + QStringLiteral("/20240229-081500-LST00002.PRN"), "second", "20240229");
    open();
    select(at({0}));
    const ReportHeader* first = ArchiveTree::reportOf(at({0, 0, 0, 0}));
    const ReportHeader* second = ArchiveTree::reportOf(at({0, 0, 1, 0}));
    QVERIFY(first && second);

    // A deletion made in the tree itself has already removed its node: the notice is ignored.
    QCoreApplication::postEvent(m_window,
                                new events::ReportDeletedEvent(second, events::FromArchiveTree));
    QCoreApplication::postEvent(m_window,
                                new events::ReportDeletedEvent(first, events::FromViewer));
    QCoreApplication::sendPostedEvents(m_window, events::kReportDeleted);
    QCOMPARE(tree(), QStringList({a, u"  2024"_qs, u"    Leden"_qs, u"    Únor"_qs,
                                  u"      second|P"_qs, archive(QStringLiteral("b"))}));
    // Put back into the print queue and deleted from the print error dialog, which has a header
    // of its own: known by its file.
    const ReportHeader queued(second->fileName);
    QCoreApplication::postEvent(m_window, new events::ReportDeletedEvent(
                                              &queued, events::FromErrorDialog, queued.fileName));
    QCoreApplication::sendPostedEvents(m_window, events::kReportDeleted);
    QCOMPARE(tree(), QStringList({a, u"  2024"_qs, u"    Leden"_qs, u"    Únor"_qs,
                                  archive(QStringLiteral("b"))}));
}

void TestArchiveTree::oneWindowClosedWithItsViewers()
{
    writeReport(archive(QStringLiteral("a")) + QStringLiteral("/20240131-081500-LST00001.PRN"),
                "first");
    open();
    QCOMPARE(ArchiveTree::showArchiveTree(m_settings, m_queue), m_window);
    select(at({0}));
    select(at({0, 0, 0, 0}));
    QTest::keyClick(m_window->ui().tree, Qt::Key_Return);
    m_window->ui().viewAction->trigger();
    const QList<ReportViewer*> viewers = m_window->findChildren<ReportViewer*>();
    QCOMPARE(viewers.size(), 2);
    const QPointer<ReportViewer> viewer = viewers.first();

    QTest::keyClick(m_window->ui().tree, Qt::Key_Escape);
    QTRY_VERIFY(!ArchiveTree::instance());
    QVERIFY(!viewer);
}

void TestArchiveTree::deletedReportLeavesTheViewAtOnce()
{
    const QString a = archive(QStringLiteral("a"));
    writeReport(a + QStringLiteral("/20240131-081500-LST00001.PRN"), "first");
    writeReport(a + QStringLiteral("/20240131-091500-LST00002.PRN"), "second");
    writeReport(a + QStringLiteral("/20240131-101500-LST00003.PRN"), "third");
    open();
    QTreeView* view = m_window->ui().tree;
    // The keyboard starts in the tree; Ctrl+F goes to the search field.
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QCOMPARE(QApplication::focusWidget(), view);
    QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), m_window->ui().searchEdit);
    select(at({0}));
    view->expandAll();
    // Two viewers on the report, then Del in the tree, answered "Ano".
    select(at({0, 0, 0, 1}));
    m_window->viewSelected();
    m_window->viewSelected();
    QCOMPARE(m_window->findChildren<ReportViewer*>().size(), 2);
    const QRect lastRow = view->visualRect(at({0, 0, 0, 2}));
    view->setFocus();
    MessageDlgTestHook::setNextAnswers({MsgButton::Yes});
    QTest::keyClick(view, Qt::Key_Delete);
    QCoreApplication::sendPostedEvents();
    QTRY_COMPARE(m_window->findChildren<ReportViewer*>().size(), 0);
    // The view shows the neighbour where the report was, and Enter opens it.
    const QModelIndex second = at({0, 0, 0, 1});
    QCOMPARE(second.data().toString(), QStringLiteral("third"));
    QCOMPARE(view->currentIndex(), second);
    QCOMPARE(view->selectionModel()->selectedIndexes(), QModelIndexList({second}));
    QCOMPARE(view->indexAt(view->visualRect(second).center()), second);
    QCOMPARE(view->indexAt(lastRow.center()), at({1}));
    QTest::keyClick(view, Qt::Key_Return);
    const QList<ReportViewer*> viewers = m_window->findChildren<ReportViewer*>();
    QCOMPARE(viewers.size(), 1);

    // Deleted from a viewer: the same.
    MessageDlgTestHook::setNextAnswers({MsgButton::Yes});
    viewers.first()->ui().deleteAction->trigger();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(m_window->ui().model->rowCount(at({0, 0, 0})), 1);
    QCOMPARE(view->currentIndex(), at({0, 0, 0, 0}));
    QCOMPARE(view->selectionModel()->selectedIndexes(), QModelIndexList({at({0, 0, 0, 0})}));
}

void TestArchiveTree::accessKeysOnceEach()
{
    writeReport(archive(QStringLiteral("a")) + QStringLiteral("/20240131-081500-LST00001.PRN"),
                "first");
    open();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    select(at({0}));
    select(at({0, 0, 0, 0}));
    m_window->ui().tree->setFocus();
    const QStringList twice = windowchecks::duplicateAccessKeys(m_window);
    QVERIFY2(twice.isEmpty(), qPrintable(twice.join(u", ")));

    // The keys work: the commands of the toolbar and the search option.
    QTest::keyClick(m_window, Qt::Key_D, Qt::AltModifier);
    QTRY_VERIFY(m_window->ui().diacriticsCheck->isChecked());
    QTest::keyClick(m_window, Qt::Key_N, Qt::AltModifier);
    QTRY_COMPARE(m_window->findChildren<ReportViewer*>().size(), 1);
}

void TestArchiveTree::largeFontKeepsTextsWhole()
{
    // Also run at fonts half as large again (the test's large-font run).
    const QString a = archive(QStringLiteral("a"));
    writeReport(a + QStringLiteral("/20240131-081500-LST00001.PRN"), "Mzdy zam\xECstnanc\xF9");
    open();
    select(at({0}));
    m_window->ui().tree->expandAll();
    select(at({0, 0, 0, 0}));
    QCOMPARE(m_window->ui().statusPanels[0]->text(), u"období: 01/2024"_qs);
    m_window->ui().searchEdit->setText(QStringLiteral("line"));
    m_window->startSearch();
    QTRY_VERIFY(m_window->ui().searchCount->isVisible() &&
                m_window->ui().searchProgress->isHidden());
    QCOMPARE(m_window->ui().resultsModel->rowCount(), 1);
    QStringList cut;
    QTRY_VERIFY2((cut = cutTexts(m_window)).isEmpty(), qPrintable(cut.join(u"; ")));
}

QTEST_MAIN(TestArchiveTree)
#include "tst_archivetree.moc"

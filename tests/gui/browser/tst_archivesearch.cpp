#include "core/archive/ArchiveSearch.h"
#include "core/config/AppSettings.h"
#include "core/jobs/JobState.h"
#include "core/report/CodePages.h"
#include "core/report/ReportText.h"
#include "gui/browser/ArchiveTree.h"
#include "gui/browser/ReportViewer.h"
#include "gui/common/MessageDlg.h"
#include "support/TestReport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

namespace {

QByteArray headerLine(int codePage, int linesPerPage = 60, const QByteArray& title = "mzdy")
{
    return reportHeaderLine(
        {1, "20240131", "08150000", title, 80, 2, linesPerPage, 0, codePage, 100, 0, "01/2024"});
}

// Writes a report dated a minute back, so that nobody counts as still writing it.
void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
    QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                          QFileDevice::FileModificationTime));
}

} // namespace

class TestArchiveSearch : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void codePagesAndDiacritics_data();
    void codePagesAndDiacritics();
    void styleSequencesPagesAndViewerRow();
    void overlongLinesCutAsPrinted();
    void hitOnLastLineOfLargeReport();
    void cancelStopsDelivery();
    void treeListsResultsAndOpensViewerAtHit();
    void enterSearchesAndCommandsActOnTheHit();

private:
    QString archive() const { return m_dir.filePath(QStringLiteral("spool/BAKPRN")); }
    QString reportPath(int n) const
    {
        return archive() +
               QStringLiteral("/20240131-081500-LST%1.PRN").arg(n, 5, 10, QLatin1Char('0'));
    }

    QTemporaryDir m_dir;
    QString m_large;
    qint64 m_largeLines = 0;
};

void TestArchiveSearch::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir().mkpath(archive()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("data"))));

    // About 200 MB: 60 lines a page, "^PG" before every page but the first, the text looked for
    // only on the very last line.
    m_large = reportPath(99999);
    QFile f(m_large);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(headerLine(CodePage852));
    const QByteArray filler = QByteArray(96, 'x') + "\r\n";
    QByteArray page;
    for (int i = 0; i < 60; ++i)
        page += (i == 0 ? "^PG" + QByteArray(93, 'p') + "\r\n" : filler);
    // The first page has no break before it.
    QByteArray first = page;
    first.replace(0, 3, "xxx");
    f.write(first);
    m_largeLines = 60;
    while (f.size() < 200 * 1000 * 1000) {
        f.write(page);
        m_largeLines += 60;
    }
    // The last line: "Dvořák" in code page 852, with a style sequence inside and no line end.
    f.write("konec Dvo^B1\xFD\xA0k");
    ++m_largeLines;
    QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                          QFileDevice::FileModificationTime));
    f.close();
}

void TestArchiveSearch::codePagesAndDiacritics_data()
{
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QByteArray>("line"); // "Jan Dvořák" in the code page
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ignoreDiacritics");
    QTest::addColumn<bool>("found");

    const struct
    {
        int codePage;
        QByteArray line;
    } pages[] = {
        {852, "Jan Dvo\xFD\xA0k"},
        {862, "Jan Dvo\xA9\xA0k"},
        {859, "Jan Dvo\xF8\xE1k"},
        {1250, "Jan Dvo\xF8\xE1k"},
    };
    for (const auto& p : pages) {
        const QByteArray cp = QByteArray::number(p.codePage);
        QTest::newRow(QByteArray(cp + " exact, other case").constData())
            << p.codePage << p.line << u"JAN DVOŘÁK"_qs << false << true;
        QTest::newRow(QByteArray(cp + " without diacritics, not ignored").constData())
            << p.codePage << p.line << u"jan dvorak"_qs << false << false;
        QTest::newRow(QByteArray(cp + " without diacritics, ignored").constData())
            << p.codePage << p.line << u"jan dvorak"_qs << true << true;
        QTest::newRow(QByteArray(cp + " other diacritics, ignored").constData())
            << p.codePage << p.line << u"JÁN DVÓŘAK"_qs << true << true;
    }
    // Frames print as lines, though Windows-1250 has letters at their bytes ("┤" is "ą", "═" "Ş").
    QTest::newRow("852 frames are no letters")
        << 852 << QByteArray("\xB4\xCD\xB4") << u"ąŞ"_qs << false << false;
    QTest::newRow("852 frames are no base letters")
        << 852 << QByteArray("\xB4\xCD\xB4") << u"as"_qs << true << false;
}

void TestArchiveSearch::codePagesAndDiacritics()
{
    QFETCH(int, codePage);
    QFETCH(QByteArray, line);
    QFETCH(QString, text);
    QFETCH(bool, ignoreDiacritics);
    QFETCH(bool, found);

    const QString path = m_dir.filePath(QStringLiteral("cp.PRN"));
    writeFile(path, headerLine(codePage) + "Mzdy " + line + "\r\n");
    const std::optional<ArchiveSearchHit> hit =
        searchReport(path, SearchPattern(text, ignoreDiacritics));
    QCOMPARE(hit.has_value(), found);
    if (found)
        QCOMPARE(hit->column, 5);
}

void TestArchiveSearch::styleSequencesPagesAndViewerRow()
{
    const QString path = m_dir.filePath(QStringLiteral("style.PRN"));
    // Ten lines a page; line ends of every kind; a text split over two lines is no hit.
    QByteArray body;
    for (int i = 0; i < 11; ++i)
        body += "radek " + QByteArray::number(i) + (i % 3 == 0 ? "\n" : i % 3 == 1 ? "\r" : "\r\n");
    body += "^PGxyz Nov\r\n";
    body += "\xE1k\r\n";
    body += "^B1N^B0o^I1v\xE1k^I0 a ^U1NOV\xC1K^U0 a nov\xE1k^\r\n";
    writeFile(path, headerLine(CodePage1250, 10) + body);

    const std::optional<ArchiveSearchHit> hit =
        searchReport(path, SearchPattern(u"Novák"_qs, false));
    QVERIFY(hit);
    QCOMPARE(hit->hits, 3);
    // Line 11 starts a page after the ten lines of page 2 (line 10 was the first of page 2).
    QCOMPARE(hit->page, 3);
    QCOMPARE(hit->line, 3);
    QCOMPARE(hit->report.title, QByteArray("mzdy"));
    QCOMPARE(hit->report.period, QByteArray("01/2024"));

    // The viewer shows the hit at that row and column.
    ReportText text;
    QString error;
    QVERIFY(text.load(path, CodePage1250, error));
    QCOMPARE(text.rowText(hit->viewerRow, false).mid(hit->column, 5), u"Novák"_qs);

    // A caret among the last two characters of a line is text.
    QCOMPARE(searchReport(path, SearchPattern(u"novák^"_qs, false))->hits, 1);
    // Nothing of the header line is report text; a line break is never in a hit.
    QVERIFY(!searchReport(path, SearchPattern(u"9A936A9B"_qs, false)));
    QVERIFY(!searchReport(path, SearchPattern(u"Nov\nák"_qs, false)));
}

void TestArchiveSearch::overlongLinesCutAsPrinted()
{
    // Printing keeps the first 64 KiB of a line: a hit beyond that is not in the report. The
    // line is longer than the chunks the file is read in; the lines after it keep their numbers.
    const QString path = m_dir.filePath(QStringLiteral("long.PRN"));
    QByteArray longLine = QByteArray(3 * 1024 * 1024, 'x');
    longLine.replace(100, 5, "Novak");
    longLine.replace(70000, 5, "Novak");
    writeFile(path, headerLine(CodePage1250, 100) + "a\r\n" + longLine + "\r\nb novak\r\n");

    const std::optional<ArchiveSearchHit> hit =
        searchReport(path, SearchPattern(u"NOVAK"_qs, false));
    QVERIFY(hit);
    QCOMPARE(hit->hits, 2);
    QCOMPARE(hit->line, 2);
    QCOMPARE(hit->column, 100);
    QCOMPARE(searchReport(path, SearchPattern(u"b nov"_qs, false))->line, 3);
}

void TestArchiveSearch::hitOnLastLineOfLargeReport()
{
    const std::optional<ArchiveSearchHit> hit =
        searchReport(m_large, SearchPattern(u"dvorak"_qs, true));
    QVERIFY(hit);
    QCOMPARE(hit->hits, 1);
    QCOMPARE(hit->page, (m_largeLines - 1) / 60 + 1);
    QCOMPARE(hit->line, (m_largeLines - 1) % 60 + 1);
    QCOMPARE(hit->column, 6);
    // Every page but the first starts with a "^PG" line, which the viewer precedes with a row.
    const qint64 last = m_largeLines - 1;
    QCOMPARE(hit->viewerRow, last + (last / 60 - 1));
}

void TestArchiveSearch::cancelStopsDelivery()
{
    // Small reports that all hold the text come before the large one.
    for (int n = 1; n <= 20; ++n)
        writeFile(reportPath(n), headerLine(CodePage852) + "konec Dvo\xFD\xA0k\r\n");

    ArchiveSearch search;
    search.setThreadCount(1);
    QSignalSpy finished(&search, &ArchiveSearch::finished);
    qint64 batches = 0;
    qint64 batchesAfterCancel = 0;
    bool cancelled = false;
    qint64 lastDone = 0;
    qint64 lastTotal = 0;
    connect(&search, &ArchiveSearch::progress, this, [&](qint64 done, qint64 total) {
        lastDone = done;
        lastTotal = total;
    });
    connect(&search, &ArchiveSearch::hitsFound, this, [&](const QList<ArchiveSearchHit>& hits) {
        QVERIFY(!hits.isEmpty());
        ++batches;
        if (cancelled)
            ++batchesAfterCancel;
        cancelled = true;
        search.cancel();
        QVERIFY(!search.running());
    });
    search.start({archive()}, u"dvorak"_qs, true);
    QVERIFY(finished.wait());
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    // Nothing of the stopped search arrives later.
    QCoreApplication::processEvents();
    QCOMPARE(batches, 1);
    QCOMPARE(batchesAfterCancel, 0);
    QCOMPARE(finished.size(), 1);

    // Run to its end, the same search finds every report.
    QList<ArchiveSearchHit> all;
    disconnect(&search, &ArchiveSearch::hitsFound, this, nullptr);
    connect(&search, &ArchiveSearch::hitsFound, this,
            [&](const QList<ArchiveSearchHit>& hits) { all += hits; });
    search.setThreadCount(3);
    search.start({archive(), m_dir.filePath(QStringLiteral("none/BAKPRN"))}, u"dvorak"_qs, true);
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.last().at(0).toBool(), false);
    QCOMPARE(all.size(), 21);
    QCOMPARE(lastDone, 21);
    QCOMPARE(lastTotal, 21);
}

void TestArchiveSearch::treeListsResultsAndOpensViewerAtHit()
{
    const QString spool = m_dir.filePath(QStringLiteral("gui"));
    QVERIFY(QDir().mkpath(spool + QStringLiteral("/BAKPRN")));
    writeFile(spool + QStringLiteral("/BAKPRN/20240131-081500-LST00001.PRN"),
              headerLine(CodePage852, 10, "prvni") + "a\r\n^PGb\r\nc\r\n^PGd Dvo\xFD\xA0k\r\n");
    writeFile(spool + QStringLiteral("/BAKPRN/20231231-081500-LST00002.PRN"),
              headerLine(CodePage1250, 10, "druha") + "DVORAK\r\n");
    AppSettings settings;
    settings.directories = spool;
    JobState queue;
    ArchiveTree* window = ArchiveTree::showArchiveTree(settings, queue);
    const ArchiveTree::Widgets& ui = window->ui();

    ui.diacriticsCheck->setChecked(true);
    QTest::keyClicks(ui.searchEdit, QStringLiteral("dvo"));
    QTest::keyClicks(ui.searchEdit, QStringLiteral("rak"));
    // One search for what was typed, its results in the tree's order.
    QTRY_COMPARE(ui.resultsModel->rowCount(), 2);
    QTRY_COMPARE(ui.searchCount->text(), u"nalezeno: 2, prohledáno: 2"_qs);
    QVERIFY(ui.searchProgress->isHidden());
    QCOMPARE(ui.resultsModel->item(0)->text(), QStringLiteral("druha"));
    QCOMPARE(ui.resultsModel->item(1)->text(), QStringLiteral("prvni"));
    QCOMPARE(ui.resultsModel->item(1, ArchiveTree::PageColumn)->text(), QStringLiteral("3"));
    QCOMPARE(ui.resultsModel->item(1, ArchiveTree::LineColumn)->text(), QStringLiteral("1"));

    ui.results->setCurrentIndex(ui.resultsModel->index(1, 0));
    ui.results->setFocus();
    QTest::keyClick(ui.results, Qt::Key_Return);
    const QList<ReportViewer*> viewers = window->findChildren<ReportViewer*>();
    QCOMPARE(viewers.size(), 1);
    const QModelIndex current = viewers.first()->ui().rows->currentIndex();
    QCOMPARE(current.row(), 5);
    QVERIFY(current.data().toString().contains(u"Dvořák"));

    // An emptied field hides the results.
    ui.searchEdit->clear();
    QTRY_VERIFY(ui.results->isHidden());
    delete window;
}

void TestArchiveSearch::enterSearchesAndCommandsActOnTheHit()
{
    // Two spool directories with the same title; the text only in the second, in two reports.
    const QString first = m_dir.filePath(QStringLiteral("first"));
    const QString second = m_dir.filePath(QStringLiteral("second"));
    for (const QString& spool : {first, second}) {
        QVERIFY(QDir().mkpath(spool + QStringLiteral("/BAKPRN")));
        writeFile(spool + QStringLiteral("/BAKPRN/20240131-081500-LST00001.PRN"),
                  headerLine(CodePage1250, 10, "mzdy") +
                      (spool == second ? "Novak\r\n" : "nic\r\n"));
    }
    writeFile(second + QStringLiteral("/BAKPRN/20240131-081500-LST00002.PRN"),
              headerLine(CodePage1250, 10, "odvody") + "Novak\r\n");
    const QString found = second + QStringLiteral("/BAKPRN/20240131-081500-LST00001.PRN");
    AppSettings settings;
    settings.directories = first + u';' + second;
    JobState queue;
    ArchiveTree* window = ArchiveTree::showArchiveTree(settings, queue);
    const ArchiveTree::Widgets& ui = window->ui();
    QVERIFY(QTest::qWaitForWindowActive(window));
    const auto viewers = [window] {
        return window->findChildren<ReportViewer*>();
    };

    // Enter in the field searches at once and opens nothing.
    QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(ui.searchEdit, QStringLiteral("novak"));
    QTest::keyClick(ui.searchEdit, Qt::Key_Return);
    QVERIFY(!ui.results->isHidden());
    QTRY_COMPARE(ui.searchCount->text(), u"nalezeno: 2, prohledáno: 3"_qs);
    QCOMPARE(viewers().size(), 0);
    QCOMPARE(ui.resultsModel->item(0, ArchiveTree::DirectoryColumn)->text(), second + u'/');
    ui.tree->setCurrentIndex(ui.model->index(1, 0));
    const QPersistentModelIndex month =
        ui.model->index(0, 0, ui.model->index(0, 0, ui.model->index(1, 0)));
    QCOMPARE(ui.model->rowCount(month), 2);

    // Deleted from a viewer opened on a hit: its row and its tree node go too.
    ui.results->setFocus();
    ui.results->setCurrentIndex(ui.resultsModel->index(1, 0));
    QTest::keyClick(ui.results, Qt::Key_Return);
    QCOMPARE(viewers().size(), 1);
    MessageDlgTestHook::setNextAnswers({MsgButton::Yes});
    viewers().first()->ui().deleteAction->trigger();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(ui.resultsModel->rowCount(), 1);
    QCOMPARE(ui.model->rowCount(month), 1);
    QTRY_COMPARE(viewers().size(), 0);

    // The tree's report open in a viewer, then the hit of the same file in the results: the
    // commands act on the hit.
    ui.tree->setCurrentIndex(ui.model->index(0, 0, month));
    ui.tree->setFocus();
    ui.viewAction->trigger();
    QCOMPARE(viewers().size(), 1);
    ui.results->setFocus();
    ui.results->setCurrentIndex(ui.resultsModel->index(0, 0));
    QVERIFY(ui.viewAction->isEnabled() && ui.printAction->isEnabled() &&
            ui.deleteAction->isEnabled());
    QTest::keyClick(ui.results, Qt::Key_Return);
    QCOMPARE(viewers().size(), 2);
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    ui.printAction->trigger();
    QCOMPARE(queue.reprintQueue().size(), 1);
    QCOMPARE(queue.reprintQueue().first().path, found);

    // Deleting the hit takes it out of the results and the tree and closes both viewers.
    MessageDlgTestHook::setNextAnswers({MsgButton::Yes});
    ui.deleteAction->trigger();
    QVERIFY(!QFile::exists(found));
    QCOMPARE(ui.resultsModel->rowCount(), 0);
    QCOMPARE(ui.model->rowCount(month), 0);
    QTRY_COMPARE(viewers().size(), 0);
    QVERIFY(!ui.deleteAction->isEnabled());

    // Nothing found is said where the results stand.
    QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(ui.searchEdit, QStringLiteral("xyz"));
    QTest::keyClick(ui.searchEdit, Qt::Key_Enter);
    QTRY_VERIFY(ui.noResults->isVisible());
    QCOMPARE(ui.noResults->text(), u"Nic nenalezeno."_qs);
    QVERIFY(ui.results->isHidden());
    QCOMPARE(ui.searchCount->text(), u"nalezeno: 0, prohledáno: 1"_qs);
    delete window;
}

QTEST_MAIN(TestArchiveSearch)
#include "tst_archivesearch.moc"

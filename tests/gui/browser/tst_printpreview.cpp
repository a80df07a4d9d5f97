// The print preview against what printing makes: the PDF that tarnyx-cli writes for the same
// report and printer of a private cupsd, rendered the same way.
#include "WindowChecks.h"
#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/jobs/JobState.h"
#include "gui/browser/PrintPreview.h"
#include "gui/common/MessageDlg.h"
#include "gui/print/OrientationQuestion.h"
#include "print/CupsPrinterCatalog.h"
#include "support/CupsFixture.h"
#include "support/TestReport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

namespace {

// A report of `pages` pages with a framed line, style sequences and page marks; `width` columns
// decide the orientation by width (more than 96: landscape).
QByteArray report(int width, int pages)
{
    QByteArray text = reportHeaderLine(
        {1, "20240131", "08153000", "V\xECplatn\xA1 listina", width, pages, 20, 0, 852, 100, 1});
    for (int page = 1; page <= pages; ++page) {
        text += (page > 1 ? "^PG" : "") + QByteArray("\xDD") + QByteArray(30, '\xA8') + "\xBE\r\n";
        text += "\xEE"
                "Dvo\xFD\xA0kov\xA0 ^B1strana " +
                QByteArray::number(page) + "^B0\xEE\r\n";
        text += QByteArray(width, char('A' + page)) + "\r\n";
    }
    return text;
}

} // namespace

class TestPrintPreview : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { MessageDlgTestHook::clear(); }
    void pagesAsPrinted_data();
    void pagesAsPrinted();
    void navigationAndZoom();
    void printsThroughTheQueueAndCleansUp();
    void withoutPrinterSaysSoAndCloses();
    void questionOffersBothPreviews();
    void keyboardAndCaptions();

private:
    QString writeReport(const QString& name, const QByteArray& content);
    // The preview of `path`, its whole document laid out.
    PrintPreview* openPreview(const QString& path, JobState* queue = nullptr);

    CupsFixture m_cups;
    QTemporaryDir m_dir;
    CupsPrinterCatalog m_printers;
    AppSettings m_settings;
};

void TestPrintPreview::initTestCase()
{
    QVERIFY2(m_cups.start({QStringLiteral("mzdy")}, QStringLiteral("mzdy")),
             qPrintable(m_cups.reason()));
    m_cups.exportToEnvironment();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    productKeys().productKey = QStringLiteral("Tarnyx");
    m_settings.load(m_printers);
    m_settings.printer = QStringLiteral("mzdy");
}

QString TestPrintPreview::writeReport(const QString& name, const QByteArray& content)
{
    const QString path = m_dir.filePath(name);
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

PrintPreview* TestPrintPreview::openPreview(const QString& path, JobState* queue)
{
    PrintPreview* preview = PrintPreview::showPreview(path, m_settings, m_printers, queue, nullptr);
    if (preview && !QTest::qWaitFor([preview] { return preview->isFinished(); }, 60000)) {
        delete preview;
        return nullptr;
    }
    return preview;
}

void TestPrintPreview::pagesAsPrinted_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("pages");
    QTest::addColumn<bool>("landscape");
    QTest::newRow("narrow report, one page: portrait") << 60 << 1 << false;
    QTest::newRow("wide report, five pages: landscape") << 120 << 5 << true;
}

// The preview's pages are the printed pages: the same count, the same orientation, and the first
// page pixel for pixel what the command line's PDF shows.
void TestPrintPreview::pagesAsPrinted()
{
    QFETCH(int, width);
    QFETCH(int, pages);
    QFETCH(bool, landscape);
    const QString path = writeReport(QStringLiteral("LST%1.PRN").arg(width), report(width, pages));
    const QString printed = m_dir.filePath(QStringLiteral("printed-%1.pdf").arg(width));
    QProcess cli;
    QProcessEnvironment env = m_cups.environment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(TARNYX_CLI), {QStringLiteral("pdf"), path, printed,
                                           QStringLiteral("--printer"), QStringLiteral("mzdy")});
    QVERIFY(cli.waitForFinished(60000));
    QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
    PreviewPages reference;
    QString error;
    QVERIFY2(reference.open(printed, error), qPrintable(error));

    PrintPreview* preview =
        PrintPreview::showPreview(path, m_settings, m_printers, nullptr, nullptr);
    QVERIFY(preview);
    // The first page is compared as soon as it is on view, whether the rest is laid out or not.
    QTRY_VERIFY_WITH_TIMEOUT(preview->hasPage(), 60000);
    const QImage expected = reference.render(0, preview->shownDpi());
    QVERIFY(!expected.isNull());
    QCOMPARE(preview->shownImage().size(), expected.size());
    QVERIFY(preview->shownImage().convertToFormat(expected.format()) == expected);

    QTRY_VERIFY_WITH_TIMEOUT(preview->isFinished(), 60000);
    QVERIFY(preview->complete());
    QCOMPARE(preview->pageCount(), reference.pageCount());
    QCOMPARE(preview->pageCount(), pages);
    QCOMPARE(preview->landscape(), landscape);
    PreviewPages shown;
    QVERIFY2(shown.open(preview->documentPath(), error), qPrintable(error));
    QCOMPARE(shown.pageSize(0), reference.pageSize(0));
    QCOMPARE(shown.pageSize(0).width() > shown.pageSize(0).height(), landscape);
    QCOMPARE(preview->ui().pageLabel->text(), QStringLiteral("Strana 1 z %1").arg(pages));
    delete preview;
}

void TestPrintPreview::navigationAndZoom()
{
    PrintPreview* preview = openPreview(writeReport(QStringLiteral("LST00003.PRN"), report(60, 3)));
    QVERIFY(preview);
    const PrintPreview::Widgets& ui = preview->ui();
    preview->resize(900, 500);
    preview->setZoom(PreviewZoom::WholePage);
    const QImage first = preview->shownImage();
    QVERIFY(!ui.previousAction->isEnabled());

    ui.nextAction->trigger();
    QCOMPARE(preview->currentPage(), 1);
    QCOMPARE(ui.pageLabel->text(), QStringLiteral("Strana 2 z 3"));
    QCOMPARE(ui.pageField->value(), 2);
    QVERIFY(preview->shownImage() != first);
    ui.lastAction->trigger();
    QCOMPARE(preview->currentPage(), 2);
    QVERIFY(!ui.nextAction->isEnabled());
    ui.pageField->setValue(1);
    QCOMPARE(preview->currentPage(), 0);
    QVERIFY(preview->shownImage() == first);

    // The whole page fits the view; the page's width fills it, and the page is taller than the
    // view then.
    const QSize view = ui.area->maximumViewportSize();
    QVERIFY(first.width() <= view.width() && first.height() <= view.height());
    ui.widthAction->trigger();
    QCOMPARE(preview->zoom(), PreviewZoom::PageWidth);
    QVERIFY(ui.widthAction->isChecked() && !ui.wholeAction->isChecked());
    QVERIFY(preview->shownImage().width() > first.width());
    QVERIFY(preview->shownImage().height() > view.height());
    delete preview;
}

void TestPrintPreview::printsThroughTheQueueAndCleansUp()
{
    const QString path = writeReport(QStringLiteral("BAKPRN/LST00004.PRN"), report(120, 3));
    JobState queue;
    QPointer<PrintPreview> preview = openPreview(path, &queue);
    QVERIFY(preview);
    QVERIFY(preview->ui().printAction->isEnabled());
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    preview->ui().printAction->trigger();
    QCOMPARE(queue.reprintQueue().size(), 1);
    QCOMPARE(queue.reprintQueue().first().path, path);

    // The temporary document goes with the window.
    const QString document = preview->documentPath();
    QVERIFY(QFile::exists(document));
    preview->close();
    QVERIFY(!QFile::exists(document));
    QVERIFY(!QFileInfo::exists(QFileInfo(document).path()));
    QTRY_VERIFY(preview.isNull());
}

void TestPrintPreview::withoutPrinterSaysSoAndCloses()
{
    AppSettings settings = m_settings;
    settings.printer.clear();
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    QPointer<PrintPreview> preview =
        PrintPreview::showPreview(writeReport(QStringLiteral("LST00005.PRN"), report(60, 1)),
                                  settings, m_printers, nullptr, nullptr);
    QVERIFY(preview);
    QTRY_VERIFY_WITH_TIMEOUT(preview.isNull(), 60000);
    const QList<MessageDlgTestHook::Message> shown = MessageDlgTestHook::lastMessages();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().text.contains(QStringLiteral("Není vybrána žádná tiskárna.")),
             qPrintable(shown.first().text));
}

// The question's one "Náhled" button leads to the report's text and to its print preview, each
// for the report asked about.
void TestPrintPreview::questionOffersBothPreviews()
{
    ReportHeader header(QStringLiteral("/spool/LST00006.PRN"));
    QStringList opened;
    const auto opener = [&opened](const QString& kind) {
        return [&opened, kind](const ReportHeader& report, QWidget*) {
            opened << kind + u' ' + report.fileName;
        };
    };
    OrientationQuestion question(m_settings);
    question.setPreviewOpener(opener(QStringLiteral("text")));
    question.setPrintPreviewOpener(opener(QStringLiteral("print")));
    question.setReport(header);
    question.show();
    QMenu* menu = question.ui().viewButton->menu();
    QVERIFY(question.ui().viewButton->isVisible() && menu);
    const QList<QAction*> entries = menu->actions();
    QCOMPARE(entries.size(), 2);
    entries.at(1)->trigger();
    entries.at(0)->trigger();
    QCOMPARE(opened, QStringList({QStringLiteral("print /spool/LST00006.PRN"),
                                  QStringLiteral("text /spool/LST00006.PRN")}));
}

// Without a mouse and with large fonts (this test runs with those too): every command has a
// shortcut or an access key, none twice; Tab reaches the toolbar's buttons; Shift+F10 and the Menu
// key open the menu of every command; every caption is whole, and the window on the screen.
void TestPrintPreview::keyboardAndCaptions()
{
    JobState queue;
    const std::unique_ptr<PrintPreview> preview(
        openPreview(writeReport(QStringLiteral("LST00007.PRN"), report(60, 3)), &queue));
    QVERIFY(preview);
    QVERIFY(QTest::qWaitForWindowActive(preview.get()));
    QMenu* menu = preview->contextMenu();
    const QStringList faults = windowchecks::cutOrOutside(preview.get()) +
                               windowchecks::largerThanScreen(preview.get()) +
                               windowchecks::duplicateAccessKeys(preview.get()) +
                               windowchecks::commandsOffTheKeyboard(preview.get(), menu);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));

    const QStringList unreached = windowchecks::outOfTabReach(
        preview->ui().area, preview->findChild<QToolBar*>(QStringLiteral("toolBar")));
    QVERIFY2(unreached.isEmpty(), qPrintable(unreached.join(u'\n')));

    const QStringList menuKeys = windowchecks::menuKeysThatFail(preview->ui().area, menu);
    QVERIFY2(menuKeys.isEmpty(), qPrintable(menuKeys.join(u'\n')));
}

QTEST_MAIN(TestPrintPreview)
#include "tst_printpreview.moc"

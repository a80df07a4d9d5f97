#include "WindowChecks.h"
#include "core/config/FontText.h"
#include "core/jobs/JobState.h"
#include "core/platform/FileName.h"
#include "core/report/CodePages.h"
#include "core/report/ReportHeader.h"
#include "gui/browser/FindTextDialog.h"
#include "gui/browser/ReportViewer.h"
#include "gui/common/Events.h"
#include "gui/common/MessageDlg.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFontDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPointer>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <cstdio>

class TestReportViewer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { MessageDlgTestHook::clear(); }
    void rowsAsShown();
    void opensANameInALegacyCodePage();
    void largeReportSplitsLikeASmallOne();
    void framesShownAndSaved();
    void findBothWays();
    void closesWhenItsReportIsDeleted();
    void previewCannotPrintOrDelete();
    void statusAndButtonsShowWhole();
    void fontDialogKeepsTheStoredFont_data();
    void fontDialogKeepsTheStoredFont();
    void keyboardReachesEveryCommand();
    void opensForAWholePageWidth();
    void captionsWholeAndOnScreen();

private:
    // A report file with a header line and `body`; its header object lives as long as the test.
    ReportHeader& report(const QByteArray& body);
    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<ReportHeader>> m_reports;
};

void TestReportViewer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toLocal8Bit());
}

ReportHeader& TestReportViewer::report(const QByteArray& body)
{
    const QString path =
        m_dir.filePath(QStringLiteral("LST%1.PRN").arg(m_reports.size(), 5, 10, QLatin1Char('0')));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("HEADER\r\n" + body) < 0)
        qFatal("cannot write %s", qPrintable(path));
    auto header = std::make_unique<ReportHeader>(path);
    header->title = "V\xFDplatn\xED p\xE1ska ";
    m_reports.push_back(std::move(header));
    return *m_reports.back();
}

void TestReportViewer::rowsAsShown()
{
    ReportText text;
    QString error;
    QVERIFY(text.load(report("one\r\n^PG\r\n^PGtwo^B1bold^B0\nthree^\rfour^x\r\n" +
                             QByteArray(3000, 'w') + "\r\nafter\0nothing")
                          .fileName,
                      CodePage1250, error));
    // The header line is gone; every page break gets a grey separator row before it.
    QCOMPARE(text.rowCount(), 9);
    QCOMPARE(text.rowText(0, false), QStringLiteral("one"));
    QVERIFY(text.isGreyRow(1) && text.isGreyRow(2) && text.isGreyRow(3));
    QCOMPARE(text.rowText(4, false), QStringLiteral("twobold"));
    // A caret at the end goes with what follows it.
    QCOMPARE(text.rowText(5, false), QStringLiteral("three"));
    QCOMPARE(text.rowText(6, false), QStringLiteral("four"));
    QCOMPARE(text.rowText(7, false).size(), ReportText::kMaxRowBytes);
    // A NUL ends the text.
    QCOMPARE(text.rowText(8, false), QStringLiteral("after"));

    const QString saved = m_dir.filePath(QStringLiteral("saved.txt"));
    QVERIFY(text.saveAsText(saved, error));
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), "one\r\ntwobold\r\nthree\r\nfour\r\n" +
                                 QByteArray(ReportText::kMaxRowBytes, 'w') + "\r\nafter\r\n");

    // A file of the header alone shows it.
    QVERIFY(text.load(report({}).fileName, CodePage1250, error));
    QCOMPARE(text.rowCount(), 1);
    QCOMPARE(text.rowText(0, false), QStringLiteral("HEADER"));
}

void TestReportViewer::opensANameInALegacyCodePage()
{
    const QByteArray legacy = QFile::encodeName(m_dir.path()) + "/LST0\xff\xe8"
                                                                "01.PRN";
    QCOMPARE(
        ::rename(QFile::encodeName(report("row\r\n").fileName).constData(), legacy.constData()), 0);
    ReportText text;
    QString error;
    QVERIFY2(text.load(platform::decodeFileName(legacy), CodePage1250, error), qPrintable(error));
    QCOMPARE(text.rowCount(), 1);
}

void TestReportViewer::largeReportSplitsLikeASmallOne()
{
    // Large enough to be read and split in two halves; every kind of line end, and page breaks,
    // wherever the halves meet.
    const QByteArray ends[] = {"\r\n", "\n", "\r"};
    QByteArray body;
    QStringList expected;
    for (int n = 0; body.size() < 9 * 1024 * 1024; ++n) {
        const bool pageBreak = n % 66 == 0;
        const QByteArray text = QByteArray::number(n) + QByteArray(80 + n % 50, '.');
        body += (pageBreak ? "^PG" : "") + text + ends[n % 3];
        if (pageBreak)
            expected << QString() << QString::fromLatin1(text);
        else
            expected << QString::fromLatin1(text);
    }
    ReportText text;
    QString error;
    QVERIFY(text.load(report(body).fileName, CodePage1250, error));
    QCOMPARE(text.rowCount(), expected.size());
    for (qsizetype row = 0; row < text.rowCount(); ++row) {
        if (expected[row].isEmpty())
            QVERIFY(text.isGreyRow(row));
        else if (text.rowText(row, false) != expected[row])
            QFAIL(qPrintable(QStringLiteral("row %1: %2").arg(row).arg(text.rowText(row, false))));
    }
}

void TestReportViewer::framesShownAndSaved()
{
    ReportText text;
    QString error;
    QVERIFY(text.load(report("\xDE\xCA\xBF\r\n\xFE\xE8\xFE\r\n").fileName, CodePage1250, error));
    QCOMPARE(text.rowText(0, true), QStringLiteral("┌─┐"));
    QCOMPARE(text.rowText(1, true), QStringLiteral("│č│"));
    QCOMPARE(text.rowText(1, false), QStringLiteral("|č|"));
    // Saved as plain text whatever the frames setting.
    QCOMPARE(ReportText::plainBytes(text.rowBytes(1)), QByteArray("|\xE8|"));
    QCOMPARE(ReportText::plainBytes(text.rowBytes(0)), QByteArray("+\xAD+"));

    // A report in code page 852 reads as printing reads it: Czech letters and frames.
    QVERIFY(text.load(report("\xEE \xE6\xA0rka \xEE\r\n").fileName, CodePage852, error));
    QCOMPARE(text.rowText(0, true), QStringLiteral("│ Šárka │"));
}

void TestReportViewer::findBothWays()
{
    // The second match is split by a style sequence, which the viewer does not show.
    ReportHeader& r =
        report("nothing\r\nPlat \xC8\x45RVEN\r\nagain\r\nplat \xE8^B1\x65rven^B0\r\n");
    QPointer<ReportViewer> viewer = ReportViewer::showReport(nullptr, r, false, nullptr);
    QVERIFY(viewer);
    QAbstractItemModelTester tester(viewer->ui().rows->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    viewer->ui().framesAction->toggle();
    QVERIFY(!viewer->ui().findNextAction->isEnabled());

    // Typed in lower case, found in capitals; the dialog's answer comes from the keyboard.
    QTimer::singleShot(0, viewer, [&] {
        FindTextDialog* dialog = viewer->findDialog();
        QVERIFY(dialog);
        dialog->ui().textEdit->setText(QStringLiteral("plat červen"));
        dialog->accept();
    });
    viewer->ui().findAction->trigger();
    QCOMPARE(viewer->ui().rows->currentIndex().row(), 1);
    viewer->findNext();
    QCOMPARE(viewer->ui().rows->currentIndex().row(), 3);

    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    viewer->findNext();
    QCOMPARE(viewer->ui().rows->currentIndex().row(), 3);
    const auto messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].caption, QStringLiteral("Najít"));
    QCOMPARE(messages[0].text, QStringLiteral("\"plat červen\" nelze najít. "));

    // Upwards from there: the last match again, then the one before it.
    QTimer::singleShot(0, viewer, [&] {
        viewer->findDialog()->ui().upRadio->setChecked(true);
        viewer->findDialog()->accept();
    });
    viewer->ui().findAction->trigger();
    QCOMPARE(viewer->ui().rows->currentIndex().row(), 3);
    viewer->findNext();
    QCOMPARE(viewer->ui().rows->currentIndex().row(), 1);
    delete viewer;
}

void TestReportViewer::closesWhenItsReportIsDeleted()
{
    ReportHeader& deleted = report("a\r\n");
    ReportHeader& kept = report("b\r\n");
    QPointer<ReportViewer> first = ReportViewer::showReport(nullptr, deleted, false, nullptr);
    QPointer<ReportViewer> second = ReportViewer::showReport(nullptr, deleted, false, nullptr);
    QPointer<ReportViewer> other = ReportViewer::showReport(nullptr, kept, false, nullptr);
    QVERIFY(first && second && other);
    for (QWidget* w : QApplication::topLevelWidgets())
        QCoreApplication::postEvent(w,
                                    new events::ReportDeletedEvent(&deleted, events::FromViewer));
    QTRY_VERIFY(!first && !second);
    QVERIFY(other);
    delete other;
}

void TestReportViewer::previewCannotPrintOrDelete()
{
    ReportHeader& r = report("a\r\n");
    QPointer<ReportViewer> viewer = ReportViewer::showReport(nullptr, r, true, nullptr);
    QVERIFY(viewer);
    QVERIFY(!viewer->ui().printAction->isEnabled());
    QVERIFY(!viewer->ui().deleteAction->isEnabled());
    QVERIFY(viewer->ui().saveAction->isEnabled());
    delete viewer;

    // A file that cannot be read opens no viewer and says why.
    ReportHeader missing(m_dir.filePath(QStringLiteral("gone.PRN")));
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    QVERIFY(!ReportViewer::showReport(nullptr, missing, false, nullptr));
    QCOMPARE(MessageDlgTestHook::lastMessages().size(), 1);
}

void TestReportViewer::statusAndButtonsShowWhole()
{
    ReportViewer::setPrintPreviewOpener([](const QString&, JobState*, QWidget*) {});
    const auto noOpener = qScopeGuard([] { ReportViewer::setPrintPreviewOpener({}); });
    ReportHeader& r = report("a\r\n");
    r.pages = 1234;
    r.linesPerPage = 66;
    r.width = 132;
    r.created = {QDate(2023, 1, 8), QTime(15, 42, 10)};
    const std::unique_ptr<ReportViewer> viewer(
        ReportViewer::showReport(nullptr, r, false, nullptr));
    QVERIFY(viewer);
    QVERIFY(QTest::qWaitForWindowExposed(viewer.get()));
    QLabel* status = viewer->ui().status;
    const auto statusWhole = [&] {
        QApplication::processEvents();
        return status->width() >= status->fontMetrics().horizontalAdvance(status->text());
    };
    QVERIFY2(statusWhole(), qPrintable(status->text()));
    viewer->resize(1, 1);
    QVERIFY2(statusWhole(), qPrintable(status->text()));

    // The buttons with their captions as given, "Náhled tisku" after them.
    QStringList buttons;
    const auto* bar = viewer->findChild<QToolBar*>(QStringLiteral("toolBar"));
    for (QAction* action : bar->actions())
        if (const auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action)))
            buttons << button->text();
    QCOMPARE(buttons,
             QStringList({u"&Tisk"_qs, u"&Uložit..."_qs, u"&Najít..."_qs, u"Najít &další"_qs,
                          u"&Písmo"_qs, u"&Rámečky"_qs, u"Ná&hled tisku"_qs}));
}

void TestReportViewer::fontDialogKeepsTheStoredFont_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("bold");
    QTest::newRow("DejaVu Sans Mono") << QStringLiteral("DejaVu Sans Mono") << false;
    QTest::newRow("DejaVu Sans Mono, bold") << QStringLiteral("DejaVu Sans Mono") << true;
    QTest::newRow("Liberation Mono") << QStringLiteral("Liberation Mono") << false;
    QTest::newRow("Courier New, bold") << QStringLiteral("Courier New") << true;
}

// OK in the font dialog without a change stores the font the viewer had: not another style of
// the face (an italic one), for every later viewer.
void TestReportViewer::fontDialogKeepsTheStoredFont()
{
    QFETCH(QString, name);
    QFETCH(bool, bold);
    FontDesc stored;
    stored.name = name;
    stored.size = 11;
    stored.bold = bold;
    QFontDialog dialog;
    dialog.setOption(QFontDialog::MonospacedFonts);
    dialog.setCurrentFont(ReportViewer::dialogFont(stored));
    const FontDesc chosen = FontDesc::fromQFont(dialog.currentFont(), stored.charset, stored.color);
    QCOMPARE(chosen.italic, false);
    QCOMPARE(chosen.bold, bold);
    QCOMPARE(chosen.size, 11);
    QCOMPARE(chosen.name, QFontInfo(stored.toQFont()).family());
}

// Without a mouse: every command has an access key or a shortcut, no key twice; Tab reaches the
// toolbar's buttons; Shift+F10 and the Menu key open the menu of every command.
void TestReportViewer::keyboardReachesEveryCommand()
{
    ReportViewer::setPrintPreviewOpener([](const QString&, JobState*, QWidget*) {});
    const auto noOpener = qScopeGuard([] { ReportViewer::setPrintPreviewOpener({}); });
    JobState queue;
    const std::unique_ptr<ReportViewer> viewer(
        ReportViewer::showReport(nullptr, report("a\r\nb\r\n"), false, &queue));
    QVERIFY(viewer);
    QVERIFY(QTest::qWaitForWindowActive(viewer.get()));

    QMenu* menu = viewer->contextMenu();
    const QStringList offKeys = windowchecks::commandsOffTheKeyboard(viewer.get(), menu);
    QVERIFY2(offKeys.isEmpty(), qPrintable(offKeys.join(u'\n')));
    QStringList duplicates = windowchecks::duplicateAccessKeys(viewer.get());
    FindTextDialog find(viewer.get());
    find.show();
    duplicates << windowchecks::duplicateAccessKeys(&find);
    find.hide();
    QVERIFY2(duplicates.isEmpty(), qPrintable(duplicates.join(u'\n')));

    QVERIFY(QTest::qWaitForWindowActive(viewer.get()));
    const QStringList unreached = windowchecks::outOfTabReach(
        viewer->ui().rows, viewer->findChild<QToolBar*>(QStringLiteral("toolBar")));
    QVERIFY2(unreached.isEmpty(), qPrintable(unreached.join(u'\n')));

    const QStringList menuKeys = windowchecks::menuKeysThatFail(viewer->ui().rows, menu);
    QVERIFY2(menuKeys.isEmpty(), qPrintable(menuKeys.join(u'\n')));
}

// The viewer opens showing a whole page width of 80 columns and about 30 rows, on the screen.
void TestReportViewer::opensForAWholePageWidth()
{
    QByteArray body;
    for (int i = 0; i < 100; ++i)
        body += QByteArray(80, 'x') + "\r\n";
    const std::unique_ptr<ReportViewer> viewer(
        ReportViewer::showReport(nullptr, report(body), false, nullptr));
    QVERIFY(viewer);
    QVERIFY(QTest::qWaitForWindowExposed(viewer.get()));
    const QListView* rows = viewer->ui().rows;
    const QFontMetrics metrics(rows->font());
    const QSize text = rows->viewport()->size();
    QVERIFY2(text.width() >= 80 * metrics.horizontalAdvance(QLatin1Char('x')),
             qPrintable(QString::number(text.width())));
    QVERIFY2(text.height() >= 30 * metrics.height() && text.height() < 40 * metrics.height(),
             qPrintable(QString::number(text.height())));
    QVERIFY(!rows->horizontalScrollBar()->isVisible());
    QVERIFY(windowchecks::largerThanScreen(viewer.get()).isEmpty());
}

// Every caption is whole and inside its window, whatever the font's size (this test runs with
// large fonts too); the viewer stays on the screen.
void TestReportViewer::captionsWholeAndOnScreen()
{
    ReportViewer::setPrintPreviewOpener([](const QString&, JobState*, QWidget*) {});
    const auto noOpener = qScopeGuard([] { ReportViewer::setPrintPreviewOpener({}); });
    ReportHeader& r = report("a\r\n");
    r.pages = 12;
    r.linesPerPage = 66;
    r.width = 80;
    const std::unique_ptr<ReportViewer> viewer(
        ReportViewer::showReport(nullptr, r, false, nullptr));
    QVERIFY(viewer);
    QVERIFY(QTest::qWaitForWindowExposed(viewer.get()));
    QApplication::processEvents();
    QStringList faults =
        windowchecks::cutOrOutside(viewer.get()) + windowchecks::largerThanScreen(viewer.get());
    FindTextDialog find(viewer.get());
    find.show();
    QVERIFY(QTest::qWaitForWindowExposed(&find));
    faults << windowchecks::cutOrOutside(&find);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
}

QTEST_MAIN(TestReportViewer)
#include "tst_reportviewer.moc"

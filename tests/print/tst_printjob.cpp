#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/jobs/JobState.h"
#include "core/report/OrientationMemory.h"
#include "print/PrintJob.h"
#include "support/OtherUser.h"
#include "support/RecordingPrinter.h"
#include "support/TestReport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include <sys/stat.h>

namespace {

QByteArray headerLine(int width, int linesPerPage, int scale = 100, bool frames = false,
                      int codePage = 1250, const QByteArray& title = "Mzdy")
{
    return reportHeaderLine({1, "20240131", "08153012", title, width, 3, linesPerPage, 0, codePage,
                             scale, int(frames)});
}

// Everything one print job needs, with a report file in a temporary spool directory.
struct Bench
{
    QTemporaryDir dir;
    AppSettings settings;
    OrientationMemory orientations;
    JobState state;
    RecordingPrinter printer;
    RecordingHost host;
    QString path;

    Bench()
    {
        settings.printer = QStringLiteral("Queue");
        settings.font = QStringLiteral("Courier New");
        settings.maxPortrait = 96;
        host.state = &state;
        path = dir.filePath(QStringLiteral("LST00001.PRN"));
    }
    void write(const QByteArray& content)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    void write(const QByteArray& header, const QList<QByteArray>& body)
    {
        write(header + (body.isEmpty() ? QByteArray() : body.join("\r\n") + "\r\n"));
    }
    // Runs one job to its end (finishing step included) and returns what it laid out.
    struct Layout
    {
        int size, charWidth, leading, lineHeight, indent, center, posY, margins[4];
        bool landscape;
    };
    Layout run()
    {
        Layout l{};
        PrintJob job(path, PrintContext{settings, orientations, state, printer, host});
        job.run();
        l = {job.layout().fontSize,
             job.layout().charWidth,
             job.layout().leading,
             job.layout().lineHeight,
             int(job.layout().indentText.size()),
             int(job.layout().centerText.size()),
             0,
             {job.layout().marginLeft, job.layout().marginTop, job.layout().marginRight,
              job.layout().marginBottom},
             job.layout().landscape};
        job.pageStart();
        l.posY = job.posY();
        return l;
    }
    QStringList archive() const
    {
        return QDir(dir.filePath(QStringLiteral("BAKPRN"))).entryList(QDir::Files);
    }
};

} // namespace

class TestPrintJob : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void layoutFitsTheGrid_data();
    void layoutFitsTheGrid();
    void marginsUseTheirOwnResolution();
    void orientation_data();
    void orientation();
    void orientationAskedOncePerTitle();
    void segmentsAndStyles();
    void placementByPage();
    void frameStrokes();
    void pageBreaks();
    void stopAbortsTheDocument();
    void abortInTheMiddleOfALine();
    void disposal();
    void disposalOfThePrintedFileOnly();
    void archiveOfAnotherUserIsRefused();
    void failures();

private:
    QTemporaryDir m_home;
};

void TestPrintJob::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    productKeys().productKey = QStringLiteral("Tarnyx");
}

void TestPrintJob::layoutFitsTheGrid_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("linesPerPage");
    QTest::addColumn<int>("scale");
    QTest::addColumn<QSize>("page");
    // size, char width, leading, line height, indent, centre, first line
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("height decides")
        << 80 << 60 << 100 << QSize(6000, 8000) << QList<int>{13, 65, 2, 132, 12, 6, 40};
    QTest::newRow("narrow report capped at 16 points")
        << 10 << 10 << 100 << QSize(6000, 8000) << QList<int>{16, 80, 640, 800, 65, 32, 0};
    QTest::newRow("nothing fits the height: 2 points, negative leading")
        << 80 << 120 << 100 << QSize(6000, 2300) << QList<int>{2, 10, -1, 19, 520, 260, 10};
    QTest::newRow("scale 50 doubles columns and rows")
        << 60 << 60 << 50 << QSize(6000, 8000) << QList<int>{6, 30, 5, 65, 80, 40, 100};
    QTest::newRow("nothing fits the width: 1 point, no height search")
        << 255 << 60 << 100 << QSize(600, 8000) << QList<int>{1, 5, 122, 132, 0, 0, 40};
}

void TestPrintJob::layoutFitsTheGrid()
{
    QFETCH(int, width);
    QFETCH(int, linesPerPage);
    QFETCH(int, scale);
    QFETCH(QSize, page);
    QFETCH(QList<int>, expected);
    Bench b;
    b.printer.width = page.width();
    b.printer.height = page.height();
    b.write(headerLine(width, linesPerPage, scale), {});
    const Bench::Layout l = b.run();
    QCOMPARE((QList<int>{l.size, l.charWidth, l.leading, l.lineHeight, l.indent, l.center, l.posY}),
             expected);
    QVERIFY(b.state.workerError().isEmpty());
}

void TestPrintJob::marginsUseTheirOwnResolution()
{
    Bench b;
    b.printer.resX = 600;
    b.printer.resY = 300;
    b.settings.borders = QMargins(10, 20, 5, 3);
    b.write(headerLine(80, 60), {});
    const Bench::Layout l = b.run();
    // 10 mm at 600 units per inch, 20 mm at 300, 5 mm at 600, 3 mm at 300.
    QCOMPARE((QList<int>{l.margins[0], l.margins[1], l.margins[2], l.margins[3]}),
             (QList<int>{236, 236, 118, 35}));
}

void TestPrintJob::orientation_data()
{
    QTest::addColumn<int>("setting");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("landscape");
    QTest::newRow("by width: 96 fits portrait") << 0 << 96 << false;
    QTest::newRow("by width: 97 goes landscape") << 0 << 97 << true;
    QTest::newRow("always portrait") << 1 << 200 << false;
    QTest::newRow("always landscape") << 2 << 40 << true;
    QTest::newRow("unknown code acts by width") << 7 << 97 << true;
}

void TestPrintJob::orientation()
{
    QFETCH(int, setting);
    QFETCH(int, width);
    QFETCH(bool, landscape);
    Bench b;
    b.settings.orientation = quint8(setting);
    b.write(headerLine(width, 60), {});
    QCOMPARE(b.run().landscape, landscape);
    QCOMPARE(b.printer.landscape(), landscape);
}

void TestPrintJob::orientationAskedOncePerTitle()
{
    Bench b;
    b.settings.orientation = OrientPerTitle;
    b.settings.erase = false;
    b.host.orientationAnswer = 0; // the default button: by width
    b.write(headerLine(120, 60, 100, false, 1250, "Rekapitulace"), {});
    QVERIFY(b.run().landscape);
    QCOMPARE(b.host.orientationQuestions, 1);
    b.write(headerLine(40, 60, 100, false, 1250, "REKAPITULACE"), {});
    QVERIFY(!b.run().landscape); // remembered as "by width", not asked again
    QCOMPARE(b.host.orientationQuestions, 1);
    QCOMPARE(b.orientations.count(), 1);

    b.host.orientationAnswer = 2;
    b.write(headerLine(40, 60, 100, false, 1250, "Jiná"), {});
    QVERIFY(b.run().landscape);
    QCOMPARE(b.host.orientationQuestions, 2);
    QCOMPARE(b.orientations.entries().at(0).orientation, quint8(2));
}

void TestPrintJob::segmentsAndStyles()
{
    Bench b;
    b.write(headerLine(80, 60), {"a^B1b^I1c", "plain", "x^", "y^B", "^U1", "^B1"});
    b.run();
    // Size 13: cells 65 wide, lines 132 apart starting at 40.
    const QStringList expected = {QStringLiteral("text 0 40 'a'"),
                                  QStringLiteral("style B"),
                                  QStringLiteral("text 65 40 'b'"),
                                  QStringLiteral("style I"),
                                  QStringLiteral("text 130 40 'c'"),
                                  QStringLiteral("style -"),
                                  QStringLiteral("text 0 172 'plain'"),
                                  QStringLiteral("text 0 304 'x^'"),
                                  QStringLiteral("text 0 436 'y^B'"),
                                  QStringLiteral("style U"),
                                  QStringLiteral("style -"),
                                  QStringLiteral("style B"),
                                  QStringLiteral("style -"),
                                  QStringLiteral("end")};
    QStringList drawn = b.printer.log;
    drawn.erase(drawn.begin(), drawn.begin() + drawn.indexOf(QStringLiteral("begin")) + 1);
    QCOMPARE(drawn, expected);
}

void TestPrintJob::placementByPage()
{
    Bench c;
    c.settings.indent = 2;
    c.write(headerLine(60, 60), {"one", "^PGtwo", "^PGthree"});
    c.run();
    const QStringList texts = c.printer.entries(QStringLiteral("text"));
    QCOMPARE(texts.size(), 3);
    // 13 points: 92 cells across, 32 spare; odd pages shifted by them, even pages not.
    QVERIFY2(texts[0].endsWith(QStringLiteral("'") + QString(32, u' ') + QStringLiteral("one'")),
             qPrintable(texts[0]));
    QVERIFY(texts[1].endsWith(QStringLiteral(" 'two'")));
    QVERIFY(texts[2].contains(QString(32, u' ') + QStringLiteral("three")));

    c.settings.indent = 3;
    c.printer.log.clear();
    c.write(headerLine(60, 60), {"mid"});
    c.run();
    QVERIFY(c.printer.entries(QStringLiteral("text"))
                .first()
                .contains(QString(16, u' ') + QStringLiteral("mid")));
}

void TestPrintJob::frameStrokes()
{
    Bench b;
    b.write(headerLine(80, 60, 100, true), {"\xDE\xCA\xCA\xBF", "\xFE\x81"});
    b.run();
    // 13 points: cells 65 wide, lines 132 high starting at 40; single pen 13/2+1, double 13.
    const QStringList expected = {
        QStringLiteral("text 0 40 '    '"),          QStringLiteral("pen 7"),
        QStringLiteral("line 32,172 32,106 65,106"), QStringLiteral("line 65,106 130,106"),
        QStringLiteral("line 130,106 195,106"),      QStringLiteral("line 195,106 227,106 227,172"),
        QStringLiteral("text 0 172 '  '"),           QStringLiteral("pen 7"),
        QStringLiteral("line 32,172 32,304"),        QStringLiteral("pen 13"),
        QStringLiteral("line 97,172 97,304"),        QStringLiteral("end")};
    QStringList drawn = b.printer.log;
    drawn.erase(drawn.begin(), drawn.begin() + drawn.indexOf(QStringLiteral("begin")) + 1);
    QCOMPARE(drawn, expected);

    // Without the frame flag the same bytes are letters.
    Bench c;
    c.write(headerLine(80, 60), {"\xFE"});
    c.run();
    QCOMPARE(c.printer.entries(QStringLiteral("text")),
             QStringList{QStringLiteral("text 0 40 'ţ'")});
    QVERIFY(c.printer.entries(QStringLiteral("line")).isEmpty());
}

void TestPrintJob::pageBreaks()
{
    Bench b;
    QList<QByteArray> body;
    for (int i = 1; i <= 25; ++i)
        body << QByteArray::number(i);
    body[14] = "^PG15"; // line 15 starts a page; the count restarts there
    b.write(headerLine(80, 10), body);
    int lastProgress = -1;
    b.host.onRefresh = [&] {
        if (b.state.progress() > 0)
            lastProgress = b.state.progress();
    };
    b.run();
    QStringList pages;
    for (const QString& e : b.printer.log)
        if (e == u"page" || e.startsWith(QStringLiteral("text")))
            pages << (e == u"page" ? e : e.section(u'\'', 1, 1));
    // Pages: 1-10, 11-14, 15-24, 25.
    QCOMPARE(pages.indexOf(QStringLiteral("page")), 10);
    QCOMPARE(pages.count(QStringLiteral("page")), 3);
    QCOMPARE(pages.at(15), QStringLiteral("page"));
    QCOMPARE(pages.at(16), QStringLiteral("15"));
    QCOMPARE(pages.at(26), QStringLiteral("page"));
    QCOMPARE(pages.at(27), QStringLiteral("25"));
    QCOMPARE(lastProgress, 25 * 100 / 26);
    QCOMPARE(b.state.progress(), 0); // reset when the job ends

    // A first line with a page mark leaves the first page empty; a NUL ends the report.
    Bench c;
    c.write(headerLine(80, 10) + "^PG\r\nsecond\r\n" +
            QByteArray("third\0fourth\r\nfifth\r\n", 21));
    c.run();
    QCOMPARE(c.printer.log.mid(c.printer.log.indexOf(QStringLiteral("begin"))),
             (QStringList{QStringLiteral("begin"), QStringLiteral("page"),
                          QStringLiteral("text 0 800 'second'"),
                          QStringLiteral("text 0 1600 'third'"), QStringLiteral("end")}));
}

void TestPrintJob::stopAbortsTheDocument()
{
    Bench b;
    b.settings.erase = true;
    b.write(headerLine(80, 60), {"1", "2", "3", "4"});
    b.host.onRefresh = [&] {
        if (b.state.progress() >= 40) // after the second line
            b.state.requestStop(true);
    };
    b.run();
    QCOMPARE(b.printer.entries(QStringLiteral("text")).size(), 2);
    QVERIFY(b.printer.log.contains(QStringLiteral("abort")));
    QVERIFY(!b.printer.log.contains(QStringLiteral("end")));
    QVERIFY(QFile::exists(b.path)); // a stopped report stays in the spool directory
    QVERIFY(b.state.workerError().isEmpty());

    // A stop after the last line still leaves the document aborted, never half open.
    Bench c;
    c.write(headerLine(80, 60), {"only"});
    c.host.onRefresh = [&] {
        if (c.state.progress() == 50)
            c.state.requestStop(true);
    };
    c.run();
    QVERIFY(c.printer.log.contains(QStringLiteral("abort")));
    QVERIFY(!c.printer.printing());
}

void TestPrintJob::abortInTheMiddleOfALine()
{
    Bench b;
    b.write(headerLine(80, 60), {"a^B1b^B0c", "next"});
    b.printer.onText = [&] {
        b.printer.abortDoc();
    };
    const Bench::Layout l = b.run();
    QCOMPARE(b.printer.entries(QStringLiteral("text")),
             QStringList{QStringLiteral("text 0 40 'a'")});
    QCOMPARE(l.lineHeight, 132);
    QVERIFY(!b.printer.log.contains(QStringLiteral("end")));
}

void TestPrintJob::disposal()
{
    // Erase on: deleted; off: archived under the report's date and time.
    Bench b;
    b.settings.erase = true;
    b.write(headerLine(80, 60), {"x"});
    b.run();
    QVERIFY(!QFile::exists(b.path));
    QVERIFY(b.archive().isEmpty());

    b.settings.erase = false;
    b.write(headerLine(80, 60), {"x"});
    b.run();
    QVERIFY(!QFile::exists(b.path));
    QCOMPARE(b.archive(), QStringList{QStringLiteral("20240131-081530-LST00001.PRN")});

    // A report from the re-print queue stays where it is, whatever Erase says.
    b.settings.erase = true;
    b.write(headerLine(80, 60), {"x"});
    b.state.reprintQueue() << ReprintEntry{b.path.toUpper(), true};
    b.run();
    QVERIFY(QFile::exists(b.path));
    QVERIFY(b.state.reprintQueue().isEmpty());

    // No printer chosen: nothing is printed and the report waits for one.
    Bench c;
    c.settings.printer.clear();
    c.write(headerLine(80, 60), {"x"});
    c.run();
    QVERIFY(c.printer.log.isEmpty());
    QCOMPARE(c.host.errors, QStringList{QStringLiteral("Chyba \"Není vybrána žádná tiskárna.\" v "
                                                       "průběhu tisku souboru %1")
                                            .arg(c.path)});
    QVERIFY(QFile::exists(c.path));
    QVERIFY(c.archive().isEmpty());
}

void TestPrintJob::disposalOfThePrintedFileOnly()
{
    // The job's own stop decides, not the shared request: Stop after the document was handed over
    // still archives it (it would print twice otherwise), a resume after an abort does not.
    Bench b;
    b.write(headerLine(80, 60), {"x", "y"});
    b.printer.onEnd = [&] {
        b.state.requestStop(true);
    };
    b.run();
    QVERIFY(!QFile::exists(b.path));
    QCOMPARE(b.archive().size(), 1);

    Bench c;
    c.write(headerLine(80, 60), {"x", "y"});
    c.printer.onText = [&] {
        c.state.requestStop(true);
    };
    c.printer.onAbort = [&] {
        c.state.requestStop(false);
    };
    c.run();
    QVERIFY(QFile::exists(c.path));
    QVERIFY(c.archive().isEmpty());

    // A new report written over the one being printed is left for its own turn.
    Bench d;
    d.write(headerLine(80, 60), {"old"});
    d.printer.onText = [&] {
        QFile f(d.path + QStringLiteral(".new"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(headerLine(80, 60) + "new\r\n");
        f.close();
        QVERIFY(::rename(QFile::encodeName(f.fileName()).constData(),
                         QFile::encodeName(d.path).constData()) == 0);
    };
    d.run();
    QVERIFY(d.archive().isEmpty());
    QFile kept(d.path);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QVERIFY(kept.readAll().endsWith("new\r\n"));

    // An archive that cannot be made: the printed report stays, and the user is told why.
    Bench e;
    e.write(headerLine(80, 60), {"x"});
    QFile blocker(e.dir.filePath(QStringLiteral("BAKPRN")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    e.host.errorAnswer = ErrorChoice::Skip;
    e.run();
    QVERIFY(QFile::exists(e.path));
    QCOMPARE(e.host.errors.size(), 1);
    QVERIFY(e.host.errors.first().startsWith(
        QStringLiteral("Sestavu %1 se nepodařilo archivovat: ").arg(e.path)));
}

void TestPrintJob::archiveOfAnotherUserIsRefused()
{
    // In a spool directory shared with the sticky bit another user cannot delete the clerk's
    // report, but could delete it from a BAKPRN of theirs: the printed report stays where it is,
    // and the user is told why.
    OTHER_USER_OR_SKIP();
    Bench b;
    OtherUser::letThrough(b.dir.path());
    QCOMPARE(::chmod(QFile::encodeName(b.dir.path()).constData(), 01777), 0);
    b.host.errorAnswer = ErrorChoice::Skip;
    const QString archive = b.dir.filePath(QStringLiteral("BAKPRN"));
    const QString theirs = b.dir.filePath(QStringLiteral("theirs"));
    const QString refused = QStringLiteral("Sestavu %1 se nepodařilo archivovat: ").arg(b.path);
    const struct
    {
        QString attack;
        QString why;
    } cases[] = {
        {QStringLiteral("mkdir -m 777 \"$a\""),
         QStringLiteral("Složka archivu %1 patří jinému uživateli.")},
        {QStringLiteral("mkdir -m 777 \"$t\" && ln -s \"$t\" \"$a\""),
         QStringLiteral("Složka archivu %1 je odkaz jiného uživatele.")},
        {QStringLiteral("true"),
         QStringLiteral("Do složky archivu %1 mohou zapisovat i jiní uživatelé.")},
    };
    for (const auto& c : cases) {
        QFile::remove(archive);
        QVERIFY(QDir(archive).removeRecursively() && QDir(theirs).removeRecursively());
        QCOMPARE(
            OtherUser::shell(QStringLiteral("a='%1' t='%2'; ").arg(archive, theirs) + c.attack), 0);
        if (!QFileInfo::exists(archive)) { // the clerk's own, open to everybody
            QVERIFY(QDir().mkdir(archive));
            QCOMPARE(::chmod(QFile::encodeName(archive).constData(), 0777), 0);
        }
        b.write(headerLine(80, 60), {"x"});
        b.run();
        QVERIFY(QFile::exists(b.path));
        QVERIFY(b.archive().isEmpty());
        QCOMPARE(b.host.errors.last(), refused + c.why.arg(archive));
    }
}

void TestPrintJob::failures()
{
    // A rejected header: the report stays and the error names the file and the reason.
    Bench b;
    b.settings.erase = true;
    b.write(headerLine(80, 121), {"x"});
    b.run();
    QCOMPARE(b.host.errors,
             QStringList{QStringLiteral("Chybný formát souboru %1\r(Počet řádků na stránku sestavy "
                                        "je mimo povolený rozsah)")
                             .arg(b.path)});
    QVERIFY(QFile::exists(b.path));

    // A missing file.
    QFile::remove(b.path);
    b.run();
    QCOMPARE(b.host.errors.last(),
             QStringLiteral("Nelze otevřít soubor sestavy %1,\rchyba \"Systém nemůže nalézt "
                            "uvedený soubor.\"")
                 .arg(b.path));

    // A failure after the job started: the report may not have been printed, so it stays in the
    // spool directory whatever the answer, Skip and Cancel alike.
    b.printer.names.clear();
    for (const ErrorChoice answer : {ErrorChoice::Skip, ErrorChoice::Cancel}) {
        b.host.errorAnswer = answer;
        b.write(headerLine(80, 60), {"x"});
        b.run();
        QVERIFY(b.host.errors.last().startsWith(QStringLiteral("Chyba \"")));
        QVERIFY(
            b.host.errors.last().endsWith(QStringLiteral("\" v průběhu tisku souboru ") + b.path));
        QVERIFY(QFile::exists(b.path));
        QVERIFY(b.archive().isEmpty());
    }

    // Retry leaves the report in place.
    b.host.errorAnswer = ErrorChoice::Retry;
    b.write(headerLine(80, 60), {"x"});
    b.run();
    QVERIFY(QFile::exists(b.path));
}

QTEST_GUILESS_MAIN(TestPrintJob)
#include "tst_printjob.moc"

// Reports printed for real: through tarnyx-cli and through a print job onto the queues of a
// private cupsd whose backend captures every job, checked with pdfinfo and pdftotext.
#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/jobs/JobState.h"
#include "core/platform/TempFolder.h"
#include "core/report/OrientationMemory.h"
#include "print/CupsClient.h"
#include "print/PdfDevice.h"
#include "print/PrintJob.h"
#include "support/CupsFixture.h"
#include "support/RecordingPrinter.h"
#include "support/TestReport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <zlib.h>

namespace {

// A CP852 report of three pages, 120 columns (landscape by width), with a box drawn with frame
// characters (the CP852 letters that become the Windows-1250 frame bytes), style sequences and
// page marks.
QByteArray cp852Report()
{
    const QByteArray top = "\xDD" + QByteArray(30, '\xA8') + "\xBE"; // ┌───┐
    const QByteArray mid = "\xEE"
                           "Dvo\xFD\xA0kov\xA0 \xE6\xA0rka ^B1tu\x9F"
                           "n\xD8^B0   \xEE";                           // │ … │
    const QByteArray bottom = "\xAD" + QByteArray(30, '\xA8') + "\xE3"; // └───┘
    return reportHeaderLine(
               {1, "20240131", "08153000", "V\xECplatn\xA1 listina", 120, 3, 20, 0, 852, 100, 1}) +
           top + "\r\n" + mid + "\r\n" + bottom + "\r\n" +
           "^PGStrana 2 ^I1kurz\xA1va^I0 ^U1podtr\xA7"
           "en\xA1^U0\r\n" +
           "^PGStrana 3\r\n";
}

// A Kamenický report of one page, 60 columns (portrait).
QByteArray kamenickyReport()
{
    return reportText({1, "20240131", "08153000", "Rekapitulace", 60, 1, 60, 0, 862, 100, 0},
                      "\x9B\xA0rka Dvo\xA9\xA0kov\xA0, \x80ist\xA0 mzda\r\n");
}

QString run(const QString& program, const QStringList& args, const QProcessEnvironment& env = {})
{
    QProcess p;
    if (!env.isEmpty())
        p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(60000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString pdfInfo(const QString& pdf, const QString& key)
{
    const QString info = run(QStringLiteral("pdfinfo"), {pdf});
    const QRegularExpression re(QStringLiteral("^%1:\\s+(.*)$").arg(key),
                                QRegularExpression::MultilineOption);
    return re.match(info).captured(1).trimmed();
}

// The drawing operators of every compressed content stream of the PDF, inflated.
QByteArray contentStreams(const QString& pdf)
{
    QFile f(pdf);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = f.readAll();
    QByteArray out;
    for (qsizetype at = data.indexOf("stream"); at >= 0; at = data.indexOf("stream", at + 1)) {
        qsizetype begin = at + 6;
        if (data.mid(begin, 2) == "\r\n")
            begin += 2;
        else if (data.mid(begin, 1) == "\n")
            begin += 1;
        else
            continue;
        z_stream z{};
        if (inflateInit(&z) != Z_OK)
            continue;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData() + begin));
        z.avail_in = uInt(data.size() - begin);
        char buffer[65536];
        int rc = Z_OK;
        while (rc == Z_OK) {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            rc = inflate(&z, Z_NO_FLUSH);
            out.append(buffer, qsizetype(sizeof buffer - z.avail_out));
        }
        inflateEnd(&z);
    }
    return out;
}

// The ink's bounding box on each page of a PDF file, in points from the bottom left corner of the
// page as it is shown (turned by the page's rotation), as Ghostscript finds it.
QList<QRectF> inkBoxes(const QString& pdf)
{
    QProcess gs; // the bbox device reports on stderr
    gs.setProcessChannelMode(QProcess::MergedChannels);
    gs.start(QStringLiteral("gs"),
             {QStringLiteral("-q"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"),
              QStringLiteral("-sDEVICE=bbox"), pdf});
    if (!gs.waitForFinished(60000))
        return {};
    QList<QRectF> boxes;
    for (const QString& line : QString::fromUtf8(gs.readAll()).split(u'\n')) {
        if (!line.startsWith(QStringLiteral("%%HiResBoundingBox:")))
            continue;
        const QStringList v = line.section(u':', 1).simplified().split(u' ');
        if (v.size() == 4)
            boxes << QRectF(QPointF(v[0].toDouble(), v[1].toDouble()),
                            QPointF(v[2].toDouble(), v[3].toDouble()));
    }
    return boxes;
}

// A box as Ghostscript gives it: left, bottom, right, top.
QString boxText(const QRectF& box)
{
    return QStringLiteral("%1 %2 %3 %4")
        .arg(box.left())
        .arg(box.top())
        .arg(box.right())
        .arg(box.bottom());
}

// A PDF printer's description with A4, Letter and Legal (`paper` the default) whose unprintable
// border differs on every side: left 10, bottom 40, right 25 and top 55 points.
QByteArray unequalMarginsPpd(const QByteArray& paper)
{
    QByteArray ppd =
        "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*LanguageVersion: English\n"
        "*LanguageEncoding: ISOLatin1\n*Manufacturer: \"Test\"\n*ModelName: \"Margins\"\n"
        "*NickName: \"Margins\"\n*cupsFilter: \"application/vnd.cups-pdf 0 -\"\n"
        "*DefaultResolution: 600dpi\n*OpenUI *PageSize: PickOne\n*DefaultPageSize: " +
        paper + '\n';
    const struct
    {
        QByteArray name, size, area;
    } sizes[] = {{"A4", "595 842", "10 40 570 787"},
                 {"Letter", "612 792", "10 40 587 737"},
                 {"Legal", "612 1008", "10 40 587 953"}};
    for (const auto& s : sizes)
        ppd += "*PageSize " + s.name + ": \"<</PageSize[" + s.size + "]>>setpagedevice\"\n";
    ppd += "*CloseUI: *PageSize\n*DefaultImageableArea: " + paper +
           "\n*DefaultPaperDimension: " + paper + '\n';
    for (const auto& s : sizes) {
        ppd += "*ImageableArea " + s.name + ": \"" + s.area + "\"\n";
        ppd += "*PaperDimension " + s.name + ": \"" + s.size + "\"\n";
    }
    return ppd;
}

} // namespace

class TestCupsPrint : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cliPrintsACp852ReportWithFrames();
    void cliRefusesAnUnknownQueueAndLeavesNoPartialPdf();
    void driverQueuesPrintThePageAsLaidOut();
    void inkStaysInsideUnequalMargins_data();
    void inkStaysInsideUnequalMargins();
    void printJobPrintsAKamenickyReport();
    void stoppedJobNeverReachesTheQueue();
    void foldersOfKilledCopiesAreRemoved();

private:
    // Writes a report file into the test's directory and returns its path.
    QString writeReport(const QString& name, const QByteArray& content);
    // Runs tarnyx-cli against the private scheduler; its exit status, its stderr in `err`.
    int cli(const QStringList& args, QByteArray* err = nullptr);

    CupsFixture m_cups;
    QTemporaryDir m_dir;
};

QString TestCupsPrint::writeReport(const QString& name, const QByteArray& content)
{
    const QString path = m_dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
    return path;
}

int TestCupsPrint::cli(const QStringList& args, QByteArray* err)
{
    QProcessEnvironment env = m_cups.environment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TARNYX_CLI), args);
    if (!p.waitForFinished(60000))
        return -1;
    if (err)
        *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void TestCupsPrint::initTestCase()
{
    QVERIFY2(
        m_cups.start({QStringLiteral("mzdy"), QStringLiteral("kancelar")}, QStringLiteral("mzdy")),
        qPrintable(m_cups.reason()));
    m_cups.exportToEnvironment();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    productKeys().productKey = QStringLiteral("Tarnyx");
}

void TestCupsPrint::cliPrintsACp852ReportWithFrames()
{
    const QString report = writeReport(QStringLiteral("LST00001.PRN"), cp852Report());
    QCOMPARE(cli({QStringLiteral("print"), report}), 0);
    QVERIFY(QFile::exists(report)); // printing a copy leaves the report alone

    const QString job = m_cups.waitForJob(QStringLiteral("mzdy"));
    QVERIFY2(!job.isEmpty(), qPrintable(m_cups.errorLog()));
    QCOMPARE(CupsFixture::jobAttributes(job).value(QStringLiteral("title")),
             QStringLiteral("Výplatní listina"));
    QCOMPARE(pdfInfo(job, QStringLiteral("Pages")), QStringLiteral("3"));
    const QStringList size = pdfInfo(job, QStringLiteral("Page size")).split(u' ');
    QVERIFY2(size.size() > 2 && size[0].toDouble() > size[2].toDouble(),
             qPrintable(size.join(u' ')));

    const QString text =
        run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), job, QStringLiteral("-")});
    QVERIFY2(text.contains(QStringLiteral("Dvořáková Šárka tučně")), qPrintable(text));
    const QStringList pages = text.split(u'\f');
    QVERIFY(pages.size() >= 3);
    QVERIFY(pages[1].contains(QStringLiteral("Strana 2 kurzíva podtržení")));
    QVERIFY(pages[2].contains(QStringLiteral("Strana 3")));
    // The frame bytes are drawn as lines, never as the letters they would be otherwise.
    for (const QChar letter : QStringLiteral("ŢĘżţşŃ"))
        QVERIFY2(!text.contains(letter), qPrintable(text));
    const QByteArray ops = contentStreams(job);
    // Top and bottom edges, each drawn cell by cell and joined into one line, and the sides.
    static const QRegularExpression line(QStringLiteral("(\\d+) (\\d+) m (\\d+) (\\d+) l\n"));
    QList<int> horizontal;
    for (const QRegularExpressionMatch& m : line.globalMatch(QString::fromLatin1(ops))) {
        if (m.captured(2) == m.captured(4))
            horizontal << m.captured(3).toInt() - m.captured(1).toInt();
    }
    QVERIFY2(ops.count(" l\n") >= 6, ops.left(2000).constData());
    QVERIFY2(horizontal.size() >= 2 && horizontal[0] > 0 && horizontal.count(horizontal[0]) == 2,
             ops.left(2000).constData());
}

void TestCupsPrint::cliRefusesAnUnknownQueueAndLeavesNoPartialPdf()
{
    const QString report = writeReport(QStringLiteral("LST00002.PRN"), cp852Report());
    // A typing error in the queue's name prints nowhere, and says what there is.
    const int jobs = m_cups.capturedJobs(QStringLiteral("mzdy")).size();
    QByteArray err;
    QCOMPARE(
        cli({QStringLiteral("print"), report, QStringLiteral("--printer"), QStringLiteral("mzdz")},
            &err),
        2);
    QVERIFY2(err.contains("mzdy") && err.contains("kancelar"), err.constData());
    const QString pdf = m_dir.filePath(QStringLiteral("out.pdf"));
    QCOMPARE(cli({QStringLiteral("pdf"), report, pdf, QStringLiteral("--printer"),
                  QStringLiteral("mzdz")}),
             2);
    QVERIFY(m_cups.waitForJob(QStringLiteral("mzdy"), 1000).isEmpty());
    QCOMPARE(m_cups.capturedJobs(QStringLiteral("mzdy")).size(), jobs);

    // The document appears under its name only when whole; a report that fails leaves nothing.
    QCOMPARE(cli({QStringLiteral("pdf"), report, pdf}), 0);
    QVERIFY(QFile::exists(pdf));
    QFile::remove(pdf);
    writeReport(QStringLiteral("LST00002.PRN"), cp852Report().replace(";120;3;20;", ";120;3;121;"));
    QCOMPARE(cli({QStringLiteral("pdf"), report, pdf}), 1);
    QVERIFY(!QFile::exists(pdf));
    QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral(".out.pdf*")}, QDir::Hidden).size(), 0);
}

void TestCupsPrint::driverQueuesPrintThePageAsLaidOut()
{
    const QString ppd = QStringLiteral("/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd");
    if (!QFile::exists(ppd))
        QSKIP("cups-filters' PDF printer driver is not installed");
    // A queue on US Letter, one on A4 that turns every job to landscape unless told otherwise,
    // one at 300 dpi.
    QVERIFY2(m_cups.addDriverQueue(QStringLiteral("letter"), ppd), qPrintable(m_cups.reason()));
    QVERIFY2(m_cups.addDriverQueue(QStringLiteral("a4turned"), ppd,
                                   {QStringLiteral("PageSize=A4"),
                                    QStringLiteral("orientation-requested-default=4")}),
             qPrintable(m_cups.reason()));
    QVERIFY2(
        m_cups.addDriverQueue(QStringLiteral("coarse"), ppd, {QStringLiteral("Resolution=300dpi")}),
        qPrintable(m_cups.reason()));
    cupsclient::QueueSetup setup;
    QCOMPARE(cupsclient::queueSetup(QStringLiteral("coarse"), {}, setup), cupsclient::Answer::Yes);
    QCOMPARE(setup.dpi, 300);

    const QString portrait = writeReport(QStringLiteral("LST00010.PRN"), kamenickyReport());
    const QString landscape = writeReport(QStringLiteral("LST00011.PRN"), cp852Report());
    struct Case
    {
        QString queue, report, size;
        QRectF printable; // the driver's imageable area, in points of the upright sheet
    };
    const QRectF letterArea(QPointF(18, 36), QPointF(594, 756));
    const QRectF a4Area(QPointF(18, 36), QPointF(577, 806));
    const Case cases[] = {
        {QStringLiteral("letter"), portrait, QStringLiteral("612 x 792"), letterArea},
        {QStringLiteral("letter"), landscape, QStringLiteral("612 x 792"), letterArea},
        {QStringLiteral("a4turned"), portrait, QStringLiteral("595 x 842"), a4Area},
        {QStringLiteral("a4turned"), landscape, QStringLiteral("595 x 842"), a4Area},
    };
    for (const Case& c : cases) {
        QCOMPARE(cli({QStringLiteral("print"), c.report, QStringLiteral("--printer"), c.queue}), 0);
        const QString out = m_cups.waitForJob(c.queue, 60000);
        QVERIFY2(!out.isEmpty(), qPrintable(m_cups.errorLog()));
        const QString what = c.queue + u' ' + QFileInfo(c.report).fileName();
        // The queue's paper, the sheet upright as it leaves the driver (a landscape page is a
        // turned page on it), not scaled...
        const QStringList size = pdfInfo(out, QStringLiteral("Page size")).split(u' ');
        const int rotation = pdfInfo(out, QStringLiteral("Page rot")).toInt();
        QVERIFY(size.size() > 2);
        const QString sheet = rotation % 180 == 0 ? size[0] + QStringLiteral(" x ") + size[2]
                                                  : size[2] + QStringLiteral(" x ") + size[0];
        QVERIFY2(sheet == c.size, qPrintable(what + u' ' + sheet));
        // ... and every mark inside the border the printer can print.
        const QList<QRectF> boxes = inkBoxes(out);
        QVERIFY2(!boxes.isEmpty(), qPrintable(what));
        for (const QRectF& ink : boxes) {
            QVERIFY2(c.printable.adjusted(-0.5, -0.5, 0.5, 0.5).contains(ink),
                     qPrintable(what + u' ' + boxText(ink)));
        }
    }
}

void TestCupsPrint::inkStaysInsideUnequalMargins_data()
{
    QTest::addColumn<QString>("paper");
    QTest::addColumn<QSizeF>("sheet"); // points, upright
    QTest::addColumn<bool>("landscape");
    const struct
    {
        const char* name;
        QSizeF size;
    } papers[] = {{"A4", {595, 842}}, {"Letter", {612, 792}}, {"Legal", {612, 1008}}};
    for (const auto& p : papers) {
        for (const bool landscape : {false, true})
            QTest::addRow("%s %s", p.name, landscape ? "landscape" : "portrait")
                << QString::fromLatin1(p.name) << p.size << landscape;
    }
}

void TestCupsPrint::inkStaysInsideUnequalMargins()
{
    QFETCH(QString, paper);
    QFETCH(QSizeF, sheet);
    QFETCH(bool, landscape);
    if (!QFile::exists(QStringLiteral("/usr/lib/cups/filter/pdftopdf")))
        QSKIP("cups-filters is not installed");
    // A driver queue whose default paper is the row's, and whose other defaults would put two
    // pages on a sheet, print only even pages (nothing of a one-page report) and mirror them.
    const QString queue = QStringLiteral("margins-") + paper.toLower();
    cupsclient::QueueSetup setup;
    if (cupsclient::queueSetup(queue, {}, setup) == cupsclient::Answer::No) {
        const QString ppd =
            writeReport(queue + QStringLiteral(".ppd"), unequalMarginsPpd(paper.toLatin1()));
        QVERIFY2(m_cups.addDriverQueue(queue, ppd,
                                       {QStringLiteral("number-up-default=2"),
                                        QStringLiteral("page-set-default=even"),
                                        QStringLiteral("mirror-default=true")}),
                 qPrintable(m_cups.reason()));
    }
    // Ten lines of frame crosses, each a full cell: the ink reaches the left edge of the first
    // column, the top of the first line and the bottom of the last. Wider than the portrait
    // limit for landscape.
    const int width = landscape ? 150 : 70;
    QByteArray report =
        reportHeaderLine({1, "20240131", "08153000", "Okraje", width, 1, 10, 0, 852, 100, 1});
    for (int row = 0; row < 10; ++row)
        report += QByteArray(width, '\xD1') + "\r\n";
    const QString file = writeReport(QStringLiteral("LST00020.PRN"), report);

    // The printable area of the upright sheet, and of the page: a landscape page lies on the
    // sheet turned a quarter to the left, its left edge along the sheet's bottom edge and its top
    // along the sheet's left edge. Points from the bottom left corner.
    const auto toPage = [&](QPointF at) {
        return landscape ? QPointF(at.y(), sheet.width() - at.x()) : at;
    };
    const auto toSheet = [&](QPointF at) {
        return landscape ? QPointF(sheet.width() - at.y(), at.x()) : at;
    };
    const QRectF sheetArea(QPointF(10, 40), QPointF(sheet.width() - 25, sheet.height() - 55));
    const QRectF pageArea =
        QRectF(toPage(sheetArea.topLeft()), toPage(sheetArea.bottomRight())).normalized();

    // The page as the program lays it out: inside the area, and filling it from its left edge
    // and from top to bottom (within the rounding of line spacing and the pen's round ends).
    const QString pdf = m_dir.filePath(QStringLiteral("margins.pdf"));
    QCOMPARE(cli({QStringLiteral("pdf"), file, pdf, QStringLiteral("--printer"), queue}), 0);
    const QList<QRectF> pageInk = inkBoxes(pdf);
    QCOMPARE(pageInk.size(), 1);
    const QRectF ink = pageInk.first();
    const QString what = boxText(ink) + QStringLiteral(" in ") + boxText(pageArea);
    QVERIFY2(pageArea.adjusted(-1, -1, 1, 1).contains(ink), qPrintable(what));
    QVERIFY2(ink.left() - pageArea.left() < 2 && ink.top() - pageArea.top() < 2 &&
                 pageArea.bottom() - ink.bottom() < 2,
             qPrintable(what));

    // The sheet the filters hand the printer: the same page turned onto it, neither moved nor
    // scaled, so inside the printable area of the sheet.
    QCOMPARE(cli({QStringLiteral("print"), file, QStringLiteral("--printer"), queue}), 0);
    const QString out = m_cups.waitForJob(queue, 60000);
    QVERIFY2(!out.isEmpty(), qPrintable(m_cups.errorLog()));
    const QList<QRectF> sheetInk = inkBoxes(out);
    QCOMPARE(sheetInk.size(), 1);
    const QRectF turned = QRectF(toSheet(ink.topLeft()), toSheet(ink.bottomRight())).normalized();
    const QRectF& printed = sheetInk.first();
    const QString where = boxText(printed) + QStringLiteral(" in ") + boxText(sheetArea) +
                          QStringLiteral(", page ink turned ") + boxText(turned);
    QVERIFY2(sheetArea.adjusted(-1, -1, 1, 1).contains(printed), qPrintable(where));
    QVERIFY2(qAbs(printed.left() - turned.left()) < 1 && qAbs(printed.top() - turned.top()) < 1 &&
                 qAbs(printed.right() - turned.right()) < 1 &&
                 qAbs(printed.bottom() - turned.bottom()) < 1,
             qPrintable(where));
}

void TestCupsPrint::printJobPrintsAKamenickyReport()
{
    const QString report = m_dir.filePath(QStringLiteral("LST00002.PRN"));
    QFile f(report);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(kamenickyReport());
    f.close();

    AppSettings settings;
    settings.printer = QStringLiteral("KANCELAR"); // letter case does not matter
    settings.font = QStringLiteral("Courier New");
    settings.maxPortrait = 96;
    settings.erase = false;
    OrientationMemory orientations;
    JobState state;
    CupsQueueDevice printer;
    RecordingHost host;
    host.state = &state;
    {
        PrintJob job(report, PrintContext{settings, orientations, state, printer, host});
        job.run();
    }
    QVERIFY2(host.errors.isEmpty(), qPrintable(host.errors.join(u'\n')));
    // Printed from the spool directory: archived afterwards.
    QVERIFY(!QFile::exists(report));
    QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("BAKPRN/20240131-081530-LST00002.PRN"))));

    const QString job = m_cups.waitForJob(QStringLiteral("kancelar"));
    QVERIFY2(!job.isEmpty(), qPrintable(m_cups.errorLog()));
    QCOMPARE(pdfInfo(job, QStringLiteral("Pages")), QStringLiteral("1"));
    const QStringList size = pdfInfo(job, QStringLiteral("Page size")).split(u' ');
    QVERIFY(size.size() > 2 && size[0].toDouble() < size[2].toDouble());
    const QString text =
        run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), job, QStringLiteral("-")});
    QVERIFY2(text.contains(QStringLiteral("Šárka Dvořáková, Čistá mzda")), qPrintable(text));
}

void TestCupsPrint::stoppedJobNeverReachesTheQueue()
{
    const QString report = m_dir.filePath(QStringLiteral("LST00003.PRN"));
    QFile f(report);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(kamenickyReport() + "druhy radek\r\n");
    f.close();

    AppSettings settings;
    settings.printer = QStringLiteral("mzdy");
    settings.font = QStringLiteral("Courier New");
    OrientationMemory orientations;
    JobState state;
    CupsQueueDevice printer;
    RecordingHost host;
    host.state = &state;
    host.onRefresh = [&] {
        if (state.progress() > 0)
            state.requestStop(true);
    };
    {
        PrintJob job(report, PrintContext{settings, orientations, state, printer, host});
        job.run();
    }
    QVERIFY(QFile::exists(report));
    QVERIFY(m_cups.waitForJob(QStringLiteral("mzdy"), 2000).isEmpty());
}

void TestCupsPrint::foldersOfKilledCopiesAreRemoved()
{
    QTemporaryDir tmp;
    const QByteArray oldTmp = qgetenv("TMPDIR");
    const auto restore = qScopeGuard([&oldTmp] {
        if (oldTmp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", oldTmp);
    });
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    qint64 deadPid = 0;
    {
        QProcess gone;
        connect(&gone, &QProcess::started, this, [&] { deadPid = gone.processId(); });
        gone.start(QStringLiteral("true"), {});
        QVERIFY(gone.waitForFinished());
    }
    QVERIFY(deadPid > 0);
    const QDir dir(tmp.path());
    const auto makeFile = [&dir](const QString& path, qint64 ageSeconds = 0) {
        QVERIFY(dir.mkpath(QFileInfo(dir.filePath(path)).path()));
        QFile f(dir.filePath(path));
        QVERIFY(f.open(QIODevice::WriteOnly));
        if (ageSeconds > 0)
            QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                                  QFileDevice::FileModificationTime));
    };
    // A killed copy's folder, and a killed copy's preview folder whose process id is in use
    // again (here by init) with nobody holding its lock: both go.
    const QString dead = QStringLiteral("tarnyx-print-%1-a1b2c3").arg(deadPid);
    makeFile(dead + QStringLiteral("/job.pdf"));
    const QString reused = QStringLiteral("tarnyx-print-1-preview-j1k2l3");
    makeFile(reused + QStringLiteral("/whole.pdf"));
    makeFile(reused + QStringLiteral("/.tarnyx.lock"), 3600);
    // A running process's folder without a lock, and an older folder without a process id, stay.
    QVERIFY(dir.mkpath(QStringLiteral("tarnyx-print-1-d4e5f6")));
    QVERIFY(dir.mkpath(QStringLiteral("tarnyx-print-g7h8i9")));
    {
        // This copy's own folder stays while its printer lives, however old its lock file.
        CupsQueueDevice printer;
        QVERIFY(printer.selectPrinter(QStringLiteral("mzdy")));
        const QStringList own =
            dir.entryList({QStringLiteral("tarnyx-print-%1-*").arg(getpid())}, QDir::Dirs);
        QCOMPARE(own.size(), 1);
        makeFile(own.first() + QStringLiteral("/.tarnyx.lock"), 3600);
        QCOMPARE(platform::TempFolder::removeLeftovers(tmp.path()), 2);
        const QStringList left = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        QCOMPARE(left, QStringList({QStringLiteral("tarnyx-print-1-d4e5f6"), own.first(),
                                    QStringLiteral("tarnyx-print-g7h8i9")}));
    }
    // A printer removes its own folder when it goes.
    QCOMPARE(dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 2);
}

QTEST_MAIN(TestCupsPrint)
#include "tst_cupsprint.moc"

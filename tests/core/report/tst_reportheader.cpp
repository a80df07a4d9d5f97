#include "core/platform/FileInfo.h"
#include "core/report/ReportFile.h"
#include "core/report/ReportHeader.h"
#include "support/TestReport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray kMark = ReportHeader::kHeaderMark;

// A valid header with one field replaced (index >= 0).
QByteArray header(int index = -1, const QByteArray& value = {})
{
    QList<QByteArray> f = {kMark, "1", "20040315", "13450799", "\"V\xFDplatn\xED listina\"",
                           "96",  "3", "60",       "x",        "1250",
                           "100", "1", "03/2004"};
    if (index >= 0)
        f[index] = value;
    return f.join(';');
}

struct Parsed
{
    bool ok;
    QString message;
};

Parsed parse(ReportHeader& h, const QList<QByteArray>& lines)
{
    QString message;
    const bool ok = h.parseHeader(lines, message);
    return {ok, message};
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

void setModified(const QString& path, const QDateTime& when)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
}

} // namespace

class TestReportHeader : public QObject
{
    Q_OBJECT
private slots:
    void splitting_data();
    void splitting();
    void partialIntegers_data();
    void partialIntegers();
    void rejectsBrokenHeaders_data();
    void rejectsBrokenHeaders();
    void validationOrder_data();
    void validationOrder();
    void fieldsOfAGoodHeader();
    void dateAndTime_data();
    void dateAndTime();
    void period_data();
    void period();
    void titleIsConverted();
    void loadHeaderReadsTheFile();
    void loadHeaderRefusesAFileBeingWritten();
    void loadHeaderSurvivesBadFiles();
    void loadHeaderEndsAtNulAsPrintingDoes();
};

void TestReportHeader::splitting_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QList<QByteArray>>("fields");
    QTest::newRow("plain") << QByteArray("a;b;c") << QList<QByteArray>{"a", "b", "c"};
    QTest::newRow("blanks around")
        << QByteArray("\t  a ; b\x01;c  ") << QList<QByteArray>{"a", "b", "c"};
    QTest::newRow("unquoted blank splits")
        << QByteArray("a;two words;c") << QList<QByteArray>{"a", "two", "words", "c"};
    QTest::newRow("quoted with doubled quote") << QByteArray("a;\"say \"\"hi\"\"; now\";c")
                                               << QList<QByteArray>{"a", "say \"hi\"; now", "c"};
    QTest::newRow("empty fields") << QByteArray(";a;;b") << QList<QByteArray>{"", "a", "", "b"};
    QTest::newRow("trailing semicolon") << QByteArray("a;b;") << QList<QByteArray>{"a", "b", ""};
    QTest::newRow("semicolon and blank at the end")
        << QByteArray("a;b; ") << QList<QByteArray>{"a", "b"};
    QTest::newRow("unterminated quote") << QByteArray("a;\"b;c") << QList<QByteArray>{"a", "b;c"};
    QTest::newRow("quote inside a field") << QByteArray("a\"b;c") << QList<QByteArray>{"a\"b", "c"};
    QTest::newRow("NUL ends the line") << QByteArray("a;b\0;c", 6) << QList<QByteArray>{"a", "b"};
    QTest::newRow("only blanks") << QByteArray(" \t ") << QList<QByteArray>{};
}

void TestReportHeader::splitting()
{
    QFETCH(QByteArray, line);
    QFETCH(QList<QByteArray>, fields);
    QCOMPARE(splitHeaderFields(line), fields);
}

void TestReportHeader::partialIntegers_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << QByteArray("96") << 96;
    QTest::newRow("percent sign after") << QByteArray("100%") << 100;
    QTest::newRow("letters") << QByteArray("abc") << 0;
    QTest::newRow("leading spaces and sign") << QByteArray("  -12x") << -12;
    QTest::newRow("plus") << QByteArray("+7") << 7;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("space after sign") << QByteArray("- 5") << 0;
    QTest::newRow("largest") << QByteArray("2147483647") << 2147483647;
    QTest::newRow("smallest") << QByteArray("-2147483648") << int(-2147483648LL);
    QTest::newRow("overflow stops before the digit") << QByteArray("99999999999") << 999999999;
}

void TestReportHeader::partialIntegers()
{
    QFETCH(QByteArray, field);
    QFETCH(int, value);
    QCOMPARE(readHeaderInteger(field), value);
}

void TestReportHeader::rejectsBrokenHeaders_data()
{
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<QString>("message");
    const QString general = QStringLiteral("Obecná chyba formátu");
    const QString unreadable = QStringLiteral("Nečitelná hlavička sestavy");
    QTest::newRow("no lines") << QList<QByteArray>{} << general;
    QTest::newRow("empty line") << QList<QByteArray>{""} << unreadable;
    QTest::newRow("wrong mark case") << QList<QByteArray>{header(0, kMark.toLower())} << unreadable;
    QTest::newRow("nine fields") << QList<QByteArray>{kMark + ";1;2;3;4;5;6;7;8"} << unreadable;
    QTest::newRow("ten fields, no scale")
        << QList<QByteArray>{kMark + ";1;20040101;10000000;T;80;1;60;x;1250"} << general;
    // An unquoted title of two words moves every later field by one.
    QTest::newRow("unquoted title with a blank")
        << QList<QByteArray>{header(4, "V\xFDplatn\xED listina")}
        << QStringLiteral("Počet řádků na stránku sestavy je mimo povolený rozsah");
}

void TestReportHeader::rejectsBrokenHeaders()
{
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QString, message);
    ReportHeader h;
    const Parsed r = parse(h, lines);
    QVERIFY(!r.ok);
    QCOMPARE(r.message, message);
}

void TestReportHeader::validationOrder_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("message");
    QTest::newRow("lines per page 121 beats version 5")
        << header(7, "121").replace(";1;2004", ";5;2004")
        << QStringLiteral("Počet řádků na stránku sestavy je mimo povolený rozsah");
    QTest::newRow("lines per page 9")
        << header(7, "9")
        << QStringLiteral("Počet řádků na stránku sestavy je mimo povolený rozsah");
    QTest::newRow("version 2 beats width") << header(1, "2").replace(";96;", ";256;")
                                           << QStringLiteral("Verze souboru je novější než 1");
    QTest::newRow("width 256") << header(5, "256")
                               << QStringLiteral("Šířka sestavy je mimo povolený rozsah");
    QTest::newRow("pages 10000") << header(6, "10000")
                                 << QStringLiteral("Počet stran sestavy je mimo povolený rozsah");
    QTest::newRow("code page 437")
        << header(9, "437") << QStringLiteral("Kódová stránka má nepovolenou hodnotu");
    QTest::newRow("scale 19") << header(10, "19")
                              << QStringLiteral("Měřítko sestavy je mimo povolený rozsah");
    QTest::newRow("width of letters passes") << header(5, "abc") << QString();
    QTest::newRow("scale with percent passes") << header(10, "100%") << QString();
    QTest::newRow("version 0 passes") << header(1, "0") << QString();
}

void TestReportHeader::validationOrder()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, message);
    ReportHeader h;
    const Parsed r = parse(h, {line});
    QCOMPARE(r.ok, message.isEmpty());
    QCOMPARE(r.message, message);
}

void TestReportHeader::fieldsOfAGoodHeader()
{
    ReportHeader h(QStringLiteral("/nonexistent/LST00001.PRN"));
    h.fileTime = 77;
    const Parsed r = parse(h, {header(), "body"});
    QVERIFY2(r.ok, qPrintable(r.message));
    QVERIFY(r.message.isEmpty());
    QCOMPARE(h.fileSize, -1); // not found, but the lines still parse
    QCOMPARE(h.fileTime, 77u);
    QCOMPARE(h.version, 1);
    QCOMPARE(h.title, QByteArray("V\xFDplatn\xED listina"));
    QCOMPARE(h.width, 96);
    QCOMPARE(h.pages, 3);
    QCOMPARE(h.linesPerPage, 60);
    QCOMPARE(h.codePage, 1250);
    QCOMPARE(h.scale, 100);
    QVERIFY(h.frames);
    QCOMPARE(h.period, QByteArray("03/2004"));

    QVERIFY(parse(h, {header(11, "01")}).ok);
    QVERIFY(!h.frames);
    // Version 0 ignores field 12.
    QVERIFY(parse(h, {header(1, "0")}).ok);
    QVERIFY(h.period.isEmpty());
    // Version 1 takes field 12 as it stands.
    QVERIFY(parse(h, {header(12, "whatever")}).ok);
    QCOMPARE(h.period, QByteArray("whatever"));
}

void TestReportHeader::dateAndTime_data()
{
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<QByteArray>("time");
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("month");
    QTest::addColumn<QString>("created");
    QTest::newRow("valid") << QByteArray("20040315") << QByteArray("13450799") << 2004 << 3
                           << QStringLiteral("2004-03-15T13:45:07.990");
    QTest::newRow("30 February") << QByteArray("20040230") << QByteArray("13450799") << 2004 << 2
                                 << QString();
    QTest::newRow("invalid time keeps the date")
        << QByteArray("\" 20040315 \"") << QByteArray("24000000") << 2004 << 3
        << QStringLiteral("2004-03-15T00:00:00.000");
    QTest::newRow("short date") << QByteArray("2004") << QByteArray("1200") << 2004 << 0
                                << QString();
    QTest::newRow("year 0") << QByteArray("00000101") << QByteArray("12000000") << 0 << 1
                            << QString();
}

void TestReportHeader::dateAndTime()
{
    QFETCH(QByteArray, date);
    QFETCH(QByteArray, time);
    QFETCH(int, year);
    QFETCH(int, month);
    QFETCH(QString, created);
    ReportHeader h;
    QVERIFY(parse(h, {header(2, date).replace("13450799", time)}).ok);
    QCOMPARE(int(h.year), year);
    QCOMPARE(int(h.month), month);
    QCOMPARE(h.created.toIsoString(), created);
    QCOMPARE(h.created.hasDate(), !created.isEmpty());
}

void TestReportHeader::period_data()
{
    QTest::addColumn<QByteArray>("line4");
    QTest::addColumn<QByteArray>("period");
    QTest::newRow("two-digit year") << QByteArray("Obdob\xED: 03/04 x") << QByteArray("03/2004");
    QTest::newRow("nineties") << QByteArray("  Mzdy  Obdob\xED: 12/95") << QByteArray("12/1995");
    QTest::newRow("four-digit year") << QByteArray("Obdob\xED:07/2010") << QByteArray("07/2010");
    QTest::newRow("one-digit month") << QByteArray("Obdob\xED: 3/2004") << QByteArray();
    QTest::newRow("small letter") << QByteArray("obdob\xED: 03/2004") << QByteArray();
    QTest::newRow("year 1989") << QByteArray("Obdob\xED: 12/1989") << QByteArray();
    QTest::newRow("year 2200") << QByteArray("Obdob\xED: 12/2200") << QByteArray();
    QTest::newRow("month 13") << QByteArray("Obdob\xED: 13/2004") << QByteArray();
    QTest::newRow("digit too far") << QByteArray("Obdob\xED:           1") << QByteArray();
    QTest::newRow("no label") << QByteArray("03/2004") << QByteArray();
    // The label is searched in the bytes as stored, before conversion: in CP852 "í" is 0xA1.
    QTest::newRow("label in another code page") << QByteArray("Obdob\xA1: 03/2004") << QByteArray();
}

void TestReportHeader::period()
{
    QFETCH(QByteArray, line4);
    QFETCH(QByteArray, period);
    ReportHeader h;
    const QByteArray elevenFields = kMark + ";1;20040315;1200;T;80;1;60;x;852;100";
    QVERIFY(parse(h, {elevenFields, "", "", line4}).ok);
    QCOMPARE(h.period, period);
    // Three lines: no fourth line to search.
    QVERIFY(parse(h, {elevenFields, "", line4}).ok);
    QVERIFY(h.period.isEmpty());
}

void TestReportHeader::titleIsConverted()
{
    ReportHeader h;
    // "Čas" in CP852 (0xAC = Č) and Kamenický (0x80 = Č); Windows-1250 stays as it is.
    QVERIFY(parse(h, {header(4, "\" \xAC"
                                "as \"")
                          .replace(";1250;", ";852;")})
                .ok);
    QCOMPARE(h.title, QByteArray("\xC8"
                                 "as"));
    QVERIFY(parse(h, {header(4, "\x80"
                                "as")
                          .replace(";1250;", ";862;")})
                .ok);
    QCOMPARE(h.title, QByteArray("\xC8"
                                 "as"));
    QVERIFY(parse(h, {header(4, "\xAC"
                                "as")})
                .ok);
    QCOMPARE(h.title, QByteArray("\xAC"
                                 "as"));
}

void TestReportHeader::loadHeaderReadsTheFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("LST00001.PRN"));
    // CR, LF and CR LF all end lines; the period comes from the fourth line.
    const QByteArray data = reportText(
        {1, "20040315", "13450799", "V\xFDplatn\xED listina", 96, 3, 60, "x", 1250, 100, 1},
        "line 2\rline 3\nObdob\xED: 11/2023\r\nline 5\r\nline 6\r\n");
    writeFile(path, data);
    setModified(path, QDateTime(QDate(2023, 11, 30), QTime(8, 15, 31)));
    ReportHeader h(path);
    QString message;
    QVERIFY2(h.loadHeader(message), qPrintable(message));
    QCOMPARE(h.fileSize, qint32(data.size()));
    QCOMPARE(h.fileTime, platform::dosDateTime(QDateTime(QDate(2023, 11, 30), QTime(8, 15, 30))));
    QCOMPARE(h.fileTime >> 16, quint32((2023 - 1980) << 9 | 11 << 5 | 30));
    QCOMPARE(h.period, QByteArray("11/2023"));
    QCOMPARE(h.title, QByteArray("V\xFDplatn\xED listina"));
}

void TestReportHeader::loadHeaderRefusesAFileBeingWritten()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("LST00002.PRN"));
    writeFile(path, header() + "\r\n");
    setModified(path, QDateTime::currentDateTime().addSecs(-60));
    // Another process holds the file open for writing, as the payroll program does while it
    // writes a report.
    QProcess writer;
    writer.start(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), QStringLiteral("exec 3>>\"$0\"; echo open; exec sleep 30"), path});
    QVERIFY(writer.waitForReadyRead(10000));
    ReportHeader h(path);
    QVERIFY(!h.loadHeader());
    writer.kill();
    writer.waitForFinished();
    QVERIFY(h.loadHeader());
}

void TestReportHeader::loadHeaderSurvivesBadFiles()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("LST00003.PRN"));
    ReportHeader h(path);
    QString message;
    QVERIFY(!h.loadHeader(message)); // missing
    QCOMPARE(message, QStringLiteral("Obecná chyba formátu"));

    // A header line of megabytes: only its beginning is kept, which cuts the title short and
    // leaves too few fields.
    QByteArray huge = header(4, "\"" + QByteArray(8 << 20, 'x') + "\"");
    writeFile(path, huge + "\r\n");
    QVERIFY(!h.loadHeader(message));
    QCOMPARE(message, QStringLiteral("Nečitelná hlavička sestavy"));

    // A NUL byte ends the report: this one is empty.
    writeFile(path, QByteArray("\0\0\0\xFF\xFE", 5) + header());
    QVERIFY(!h.loadHeader(message));
    QCOMPARE(message, QStringLiteral("Obecná chyba formátu"));

    // A directory or a named pipe by the name of a report never hangs the reader.
    QVERIFY(!ReportHeader(dir.path()).loadHeader());
    const QString fifo = dir.filePath(QStringLiteral("LST00004.PRN"));
    QCOMPARE(QProcess::execute(QStringLiteral("mkfifo"), {fifo}), 0);
    QVERIFY(!ReportHeader(fifo).loadHeader());
}

void TestReportHeader::loadHeaderEndsAtNulAsPrintingDoes()
{
    // The report list and the printer must see the same header. Printing ends a report at a NUL
    // byte, so a period written after one is not part of it.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("LST00005.PRN"));
    writeFile(path, reportHeaderLine("1;20040315;1345;T;80;1;60;x;1250;100") + "line 2" +
                        QByteArray(1, '\0') + "\r\nline 3\r\nObdob\xED: 11/2023\r\nline 5\r\n");
    setModified(path, QDateTime::currentDateTime().addSecs(-60));
    ReportFile file;
    QString message;
    QVERIFY2(file.open(path, message), qPrintable(message));
    ReportHeader printed(path);
    QVERIFY2(printed.parseHeader(file.headLines(), message), qPrintable(message));
    ReportHeader listed(path);
    QVERIFY2(listed.loadHeader(message), qPrintable(message));
    QVERIFY(listed.period.isEmpty());
    QCOMPARE(listed.period, printed.period);
}

QTEST_GUILESS_MAIN(TestReportHeader)
#include "tst_reportheader.moc"

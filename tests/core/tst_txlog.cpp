#include "core/TxLog.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

TJvLogRecord rec(const char* time, const char* title, const char* description = "")
{
    return {QString::fromUtf8(time), QString::fromUtf8(title), QString::fromUtf8(description)};
}

// An old record whose line in the file is exactly `bytes` long: "[t]" title ">" CR LF.
TJvLogRecord recOfLineSize(int bytes)
{
    return {QStringLiteral("t"), QString(bytes - 6, u'x'), QString()};
}

} // namespace

char* toString(const TJvLogRecord& r)
{
    return QTest::toString(u'[' + r.Time + u'|' + r.Title + u'|' + r.Description + u']');
}

class TstTxLog : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
    }
    void cleanup()
    {
        FreeAppLog();
        QDir::setCurrent(m_startDir);
    }

    void writtenLineAndReadBack_data()
    {
        QTest::addColumn<TJvLogRecord>("record");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("plain") << rec("5.3.24 14:07:09", "MainFormClose")
                               << QByteArray("[5.3.24 14:07:09]MainFormClose>\r\n");
        QTest::newRow("> in title doubled")
            << rec("t", "a>b>>c", "d") << QByteArray("[t]a>>b>>>>c>d\r\n");
        QTest::newRow("title ends with >") << rec("t", "x>", "") << QByteArray("[t]x>>>\r\n");
        QTest::newRow("> in description as is")
            << rec("t", "T", "a>>b>") << QByteArray("[t]T>a>>b>\r\n");
        QTest::newRow("brackets after the time")
            << rec("[t", "]a[", "]") << QByteArray("[[t]]a[>]\r\n");
        QTest::newRow("UTF-8") << rec("t", "Tisk č. 5", "žluť")
                               << QByteArray("[t]Tisk č. 5>žluť\r\n");
    }
    void writtenLineAndReadBack()
    {
        QFETCH(TJvLogRecord, record);
        QFETCH(QByteArray, line);
        const QString path = m_tmp->filePath(QStringLiteral("round.log"));
        {
            TJvLogFile log;
            log.SetFileName(path);
            log.SetAutoSave(true);
            log.SetActive(true);
            log.AddTimedEntry(record.Time, record.Title, record.Description);
            QCOMPARE(readFile(path), line);
        }
        TJvLogFile reread;
        reread.SetFileName(path);
        QCOMPARE(reread.Records(), TJvLogRecordList{record});
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<TJvLogRecordList>("records");
        QTest::newRow("empty") << QByteArray() << TJvLogRecordList{};
        QTest::newRow("lines without [ or ] dropped")
            << QByteArray("no bracket>x\r\n[a]A>1\r\n[unclosed>y\r\n\r\n[b]B>2")
            << TJvLogRecordList{rec("a", "A", "1"), rec("b", "B", "2")};
        QTest::newRow("LF, lone CR, CR LF")
            << QByteArray("[a]A\n[b]B\r[c]C\r\n\r\r[d]D")
            << TJvLogRecordList{rec("a", "A"), rec("b", "B"), rec("c", "C"), rec("d", "D")};
        QTest::newRow("text before [ and ] before [ ignored")
            << QByteArray("x]y[t]T>D") << TJvLogRecordList{rec("t", "T", "D")};
        QTest::newRow("odd run of > ends the title")
            << QByteArray("[t]a>>>>>b>c") << TJvLogRecordList{rec("t", "a>>", "b>c")};
        QTest::newRow("only pairs: no description")
            << QByteArray("[t]a>>b>>") << TJvLogRecordList{rec("t", "a>b>")};
        QTest::newRow("invalid UTF-8 replaced, line kept")
            << QByteArray("[t\xff]A\xe2>\xc3\n[u]B")
            << TJvLogRecordList{rec("t\uFFFD", "A\uFFFD", "\uFFFD"), rec("u", "B")};
        QTest::newRow("NUL inside a line")
            << QByteArray("[t]A\0B>C", 8)
            << TJvLogRecordList{
                   {QStringLiteral("t"), QStringView(u"A\0B", 3).toString(), QStringLiteral("C")}};
    }
    void parse()
    {
        QFETCH(QByteArray, content);
        QFETCH(TJvLogRecordList, records);
        QCOMPARE(TJvLogFile::ParseLog(content), records);
    }

    // Without the switch nothing is recorded, yet the file is written back at the end: lines that
    // did not parse are gone, line ends become CR LF, and a missing file is created empty.
    void withoutSwitchFileIsRewrittenAtEnd_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("missing file") << QByteArray() << QByteArray();
        QTest::newRow("unparsable lines") << QByteArray("[a]A>1\ngarbage\n[b]B>>x>2\n[no end>3\n")
                                          << QByteArray("[a]A>1\r\n[b]B>>x>2\r\n");
    }
    void withoutSwitchFileIsRewrittenAtEnd()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QDir::setCurrent(m_tmp->path());
        if (!before.isEmpty())
            writeFile(QStringLiteral("tarnyx.log"), before);
        SetUpAppLog(QStringLiteral("/usr/bin/tarnyx"), false);
        AppLog().AddEntry(QStringLiteral("MainFormClose"), QString());
        QCOMPARE(readFile(QStringLiteral("tarnyx.log")),
                 before.isEmpty() ? QByteArray("<missing>") : before);
        FreeAppLog();
        QCOMPARE(readFile(QStringLiteral("tarnyx.log")), after);
    }

    void startAndShutdownAppendToEarlierRuns()
    {
        QDir::setCurrent(m_tmp->path());
        const QList<QPair<QString, QString>> shutdown = {
            {QStringLiteral("FormCloseQuery"), {}},
            {QStringLiteral("MainFormClose"), {}},
            {QStringLiteral("MainFormDestroy"), {}},
            {QStringLiteral("DataModuleDestroy"), QStringLiteral("begin")},
            {QStringLiteral("DataModuleDestroy"), QStringLiteral("end")}};
        for (int run = 0; run < 2; ++run) {
            SetUpAppLog(QStringLiteral("C:/Programs/Tarnyx.exe"), true);
            for (const auto& [title, description] : shutdown)
                AppLog().AddEntry(title, description);
            FreeAppLog();
        }
        QCOMPARE(AppLog().Active(), false);
        QCOMPARE(AppLog().AutoSave(), false);
        QCOMPARE(AppLog().SizeLimit(), 0);
        QVERIFY(AppLog().FileName().isEmpty());

        const TJvLogRecordList records =
            TJvLogFile::ParseLog(readFile(QStringLiteral("Tarnyx.log")));
        QCOMPARE(records.size(), 12);
        for (int i = 0; i < records.size(); ++i) {
            const auto expected =
                i % 6 == 0
                    ? QPair<QString, QString>{QStringLiteral("---------- Start ---------"), {}}
                    : shutdown[i % 6 - 1];
            QCOMPARE(records[i].Title, expected.first);
            QCOMPARE(records[i].Description, expected.second);
            QVERIFY(!records[i].Time.isEmpty());
        }
    }

    void trimKeepsNewestReachingLimit_data()
    {
        QTest::addColumn<QList<int>>("lineSizes");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("kept");
        QTest::newRow("no limit") << QList<int>{10, 10, 10} << 0 << 3;
        QTest::newRow("all below limit") << QList<int>{10, 10, 10} << 31 << 3;
        QTest::newRow("exactly reached") << QList<int>{10, 10, 10} << 20 << 2;
        QTest::newRow("one byte more keeps one more") << QList<int>{10, 10, 10} << 21 << 3;
        QTest::newRow("newest alone exceeds") << QList<int>{10, 10, 50} << 20 << 1;
    }
    void trimKeepsNewestReachingLimit()
    {
        QFETCH(QList<int>, lineSizes);
        QFETCH(int, limit);
        QFETCH(int, kept);
        TJvLogFile log;
        log.SetActive(true);
        for (int size : lineSizes) {
            const TJvLogRecord r = recOfLineSize(size);
            log.AddTimedEntry(r.Time, r.Title, r.Description);
        }
        const TJvLogRecordList all = log.Records();
        log.SetSizeLimit(limit);
        log.TrimToLimit();
        QCOMPARE(log.Records(), all.mid(all.size() - kept));
    }

    // 30 kB of old records: the start record trims them to the newest ones whose lines, counted
    // in UTF-8 bytes with CR LF, just reach 20480 bytes.
    void trimThirtyKilobytesAtStart()
    {
        QDir::setCurrent(m_tmp->path());
        QByteArray old;
        for (int i = 0; old.size() < 30 * 1024; ++i)
            old += QStringLiteral("[5.3.24 14:07:%1]Tisk č. %1>sestava žluť\r\n").arg(i).toUtf8();
        writeFile(QStringLiteral("tarnyx.log"), old);
        SetUpAppLog(QStringLiteral("tarnyx"), true);

        const QByteArray saved = readFile(QStringLiteral("tarnyx.log"));
        const TJvLogRecordList records = AppLog().Records();
        const qsizetype oldestLine = TJvLogFile::FormatLine(records.first()).size();
        QVERIFY(saved.size() >= 20480);
        QVERIFY(saved.size() - oldestLine < 20480);
        QVERIFY(old.endsWith(saved.left(saved.lastIndexOf("\r\n[") + 2)));
        QCOMPARE(records.last().Title, QStringLiteral("---------- Start ---------"));
    }

    void relativeNameFollowsWorkingDirectory()
    {
        QVERIFY(QDir(m_tmp->path()).mkpath(QStringLiteral("a/b")));
        QDir::setCurrent(m_tmp->filePath(QStringLiteral("a")));
        TJvLogFile log;
        log.SetFileName(QStringLiteral("tarnyx.log"));
        log.SetAutoSave(true);
        log.SetActive(true);
        log.AddTimedEntry(QStringLiteral("t"), QStringLiteral("first"), QString());
        QDir::setCurrent(m_tmp->filePath(QStringLiteral("a/b")));
        log.AddTimedEntry(QStringLiteral("t"), QStringLiteral("second"), QString());
        QCOMPARE(readFile(m_tmp->filePath(QStringLiteral("a/tarnyx.log"))),
                 QByteArray("[t]first>\r\n"));
        QCOMPARE(readFile(m_tmp->filePath(QStringLiteral("a/b/tarnyx.log"))),
                 QByteArray("[t]first>\r\n[t]second>\r\n"));
    }

    // A log whose file cannot be written or read says so once and goes on in memory.
    void unusableFileKeepsLogInMemory()
    {
        const QString blocker = m_tmp->filePath(QStringLiteral("file.txt"));
        writeFile(blocker, "x");
        TJvLogFile log;
        log.SetFileName(blocker + QStringLiteral("/tarnyx.log"));
        log.SetAutoSave(true);
        log.SetActive(true);
        QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression(QStringLiteral(
                "^tarnyx: the event log .*file.txt/tarnyx.log cannot be written: .+")));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        log.AddTimedEntry(QStringLiteral("t"), QStringLiteral("A"), QString());
        log.AddTimedEntry(QStringLiteral("t"), QStringLiteral("B"), QString());
        QVERIFY(!log.SaveLog(log.FileName()));
        QVERIFY(!log.LoadLog(m_tmp->path())); // a directory, not a file
        QCOMPARE(log.Records(), (TJvLogRecordList{rec("t", "A"), rec("t", "B")}));

        log.SetFileName(m_tmp->filePath(QStringLiteral("ok.log")));
        log.DeleteEntry(5); // out of range: nothing happens
        log.DeleteEntry(0);
        QCOMPARE(readFile(log.FileName()), QByteArray("[t]B>\r\n"));
    }

    // Fields the line cannot hold as they are (a line break, a "]" in the time, a description
    // starting with ">", which would pair with the separator) are adjusted once when recorded, so
    // that the file reads back exactly as the log holds them.
    void unrepresentableFieldsAdjusted_data()
    {
        QTest::addColumn<TJvLogRecord>("record");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("line breaks")
            << rec("t", "a\nb", "c\r\nd\re") << QByteArray("[t]a b>c  d e\r\n");
        QTest::newRow("] in time") << rec("14:07]x", "T") << QByteArray("[14:07)x]T>\r\n");
        QTest::newRow("description starts with >")
            << rec("t", "T", ">a") << QByteArray("[t]T> >a\r\n");
        QTest::newRow("> on both sides") << rec("t", "x>", ">>") << QByteArray("[t]x>>> >>\r\n");
    }
    void unrepresentableFieldsAdjusted()
    {
        QFETCH(TJvLogRecord, record);
        QFETCH(QByteArray, line);
        const QString path = m_tmp->filePath(QStringLiteral("lines.log"));
        TJvLogFile log;
        log.SetFileName(path);
        log.SetAutoSave(true);
        log.SetActive(true);
        log.AddTimedEntry(record.Time, record.Title, record.Description);
        QCOMPARE(readFile(path), line);
        QCOMPARE(TJvLogFile::ParseLog(line), log.Records());
    }

    void formatTimeWithoutZone_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        QTest::newRow("en_US, AP then zone") << u"en_US"_s << u"3/5/24 2:07:09 PM"_s;
        QTest::newRow("cs_CZ") << u"cs_CZ"_s << u"05.03.24 14:07:09"_s;
        QTest::newRow("eu_ES, zone in ()") << u"eu_ES"_s << u"24/3/5 14:07:09"_s;
        QTest::newRow("zone in []") << u"yue_HK"_s << u"2024/3/5 下午2:07:09"_s;
        QTest::newRow("zone first") << u"my_MM"_s << u"၀၅-၀၃-၂၄ ၁၄:၀၇:၀၉"_s;
        QTest::newRow("quoted literal kept") << u"bg_BG"_s << u"5.03.24 г. 14:07:09 ч."_s;
        QTest::newRow("sq_AL, comma before zone") << u"sq_AL"_s << u"5.3.24 2:07:09 E PASDITES"_s;
    }
    void formatTimeWithoutZone()
    {
        QFETCH(QString, locale);
        QFETCH(QString, expected);
        const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
        QCOMPARE(TJvLogFile::FormatTime(when, QLocale(locale)), expected);
    }

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    const QString m_startDir = QDir::currentPath();
};

QTEST_GUILESS_MAIN(TstTxLog)
#include "tst_txlog.moc"

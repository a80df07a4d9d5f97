#include "core/log/EventLog.h"
#include "support/OtherUser.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Records = EventLogRecordList;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

EventLogRecord rec(const char* time, const char* title, const char* description = "")
{
    return {QString::fromUtf8(time), QString::fromUtf8(title), QString::fromUtf8(description)};
}

// A recording log that saves to `path` after every change.
void startRecording(EventLog& log, const QString& path)
{
    log.setFileName(path);
    log.setAutoSave(true);
    log.setActive(true);
}

} // namespace

char* toString(const EventLogRecord& r)
{
    return QTest::toString(u'[' + r.time + u'|' + r.title + u'|' + r.description + u']');
}

class TestEventLog : public QObject
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
        freeAppLog();
        QDir::setCurrent(m_startDir);
    }

    // Fields a line cannot hold as they are (a line break, "]" in the time, a description
    // starting with ">", which would pair with the separator) are adjusted when recorded.
    void writtenLineReadsBack_data()
    {
        QTest::addColumn<EventLogRecord>("record");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<EventLogRecord>("readBack");
        const auto row = [](const char* tag, EventLogRecord r, const char* line,
                            EventLogRecord back) {
            QTest::newRow(tag) << r << QByteArray(line) << back;
        };
        const EventLogRecord plain = rec("t", "a>b>>c", "d>>e>");
        row("> doubled in title only", plain, "[t]a>>b>>>>c>d>>e>\r\n", plain);
        row("brackets and UTF-8", rec("[t", "]č[", "]ž"), "[[t]]č[>]ž\r\n", rec("[t", "]č[", "]ž"));
        row("line breaks", rec("t", "a\nb", "c\r\nd\re"), "[t]a b>c  d e\r\n",
            rec("t", "a b", "c  d e"));
        row("] in time", rec("14:07]x", "T"), "[14:07)x]T>\r\n", rec("14:07)x", "T"));
        row("description starts with >", rec("t", "x>", ">a"), "[t]x>>> >a\r\n",
            rec("t", "x>", " >a"));
    }
    void writtenLineReadsBack()
    {
        QFETCH(EventLogRecord, record);
        QFETCH(QByteArray, line);
        QFETCH(EventLogRecord, readBack);
        const QString path = m_tmp->filePath(u"round.log"_s);
        EventLog log;
        startRecording(log, path);
        log.addTimedEntry(record.time, record.title, record.description);
        QCOMPARE(readFile(path), line);
        QCOMPARE(log.records(), Records{readBack});
        EventLog reread;
        reread.setFileName(path);
        QCOMPARE(reread.records(), Records{readBack});
    }

    // Without the switch nothing is recorded, yet the file is written back at the end: lines that
    // did not parse are gone, line ends become CR LF, and a missing file is created empty.
    void withoutSwitchFileIsRewrittenAtEnd_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("missing file") << QByteArray() << QByteArray();
        QTest::newRow("lines without [ or ] dropped")
            << QByteArray("garbage\r\n[a]A>1\n[no end>3\n") << QByteArray("[a]A>1\r\n");
        QTest::newRow("LF, lone CR, text before [")
            << QByteArray("[a]A\rx]y[b]B\r\n\r\r[c]C") << QByteArray("[a]A>\r\n[b]B>\r\n[c]C>\r\n");
        QTest::newRow("odd run of > ends the title")
            << QByteArray("[t]a>>>>>b>c\n[u]d>>") << QByteArray("[t]a>>>>>b>c\r\n[u]d>>>\r\n");
        QTest::newRow("invalid UTF-8 replaced")
            << QByteArray("[t\xff]A\xe2>\xc3") << QByteArray("[t\uFFFD]A\uFFFD>\uFFFD\r\n");
    }
    void withoutSwitchFileIsRewrittenAtEnd()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QDir::setCurrent(m_tmp->path());
        QVERIFY(before.isEmpty() || writeFile(u"tarnyx.log"_s, before));
        setUpAppLog(u"/usr/bin/tarnyx"_s, false);
        appLog().addEntry(u"MainFormClose"_s, QString());
        QCOMPARE(readFile(u"tarnyx.log"_s), before.isEmpty() ? QByteArray("<missing>") : before);
        freeAppLog();
        QCOMPARE(readFile(u"tarnyx.log"_s), after);
    }

    void startAndShutdownAppendToEarlierRuns()
    {
        QDir::setCurrent(m_tmp->path());
        const Records run = {rec("", "---------- Start ---------"),
                             rec("", "FormCloseQuery"),
                             rec("", "MainFormClose"),
                             rec("", "MainFormDestroy"),
                             rec("", "DataModuleDestroy", "begin"),
                             rec("", "DataModuleDestroy", "end")};
        for (int i = 0; i < 2; ++i) {
            setUpAppLog(u"C:/Programs/Tarnyx.exe"_s, true);
            for (const EventLogRecord& r : run.sliced(1))
                appLog().addEntry(r.title, r.description);
            freeAppLog();
        }
        QVERIFY(!appLog().isActive() && !appLog().autoSave() && appLog().fileName().isEmpty());

        Records records = EventLog::parseLog(readFile(u"Tarnyx.log"_s));
        for (EventLogRecord& r : records) {
            QVERIFY(!r.time.isEmpty());
            r.time.clear();
        }
        QCOMPARE(records, run + run);
    }

    void trimKeepsNewestReachingLimit_data()
    {
        QTest::addColumn<QList<int>>("lineSizes");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("kept");
        QTest::newRow("exactly reached") << QList<int>{10, 10, 10} << 20 << 2;
        QTest::newRow("one byte more keeps one more") << QList<int>{10, 10, 10} << 21 << 3;
        QTest::newRow("newest alone exceeds") << QList<int>{10, 10, 50} << 20 << 1;
    }
    void trimKeepsNewestReachingLimit()
    {
        QFETCH(QList<int>, lineSizes);
        QFETCH(int, limit);
        QFETCH(int, kept);
        EventLog log;
        log.setActive(true);
        for (int size : lineSizes) // "[t]" title ">" CR LF
            log.addTimedEntry(u"t"_s, QString(size - 6, u'x'), QString());
        const Records all = log.records();
        log.setSizeLimit(limit);
        log.trimToLimit();
        QCOMPARE(log.records(), all.mid(all.size() - kept));
    }

    // 30 kB of old records: the start record trims them to the newest ones whose lines, counted
    // in UTF-8 bytes with CR LF, just reach 20480 bytes.
    void trimThirtyKilobytesAtStart()
    {
        QDir::setCurrent(m_tmp->path());
        QByteArray old;
        for (int i = 0; old.size() < 30 * 1024; ++i)
            old += u"[5.3.24 14:07:%1]Tisk č. %1>sestava žluť\r\n"_s.arg(i).toUtf8();
        QVERIFY(writeFile(u"tarnyx.log"_s, old));
        setUpAppLog(u"tarnyx"_s, true);

        const QByteArray saved = readFile(u"tarnyx.log"_s);
        const Records& records = appLog().records();
        QVERIFY(saved.size() >= 20480);
        QVERIFY(saved.size() - EventLog::formatLine(records.first()).size() < 20480);
        QVERIFY(old.endsWith(saved.left(saved.lastIndexOf("\r\n[") + 2)));
        QCOMPARE(records.last().title, u"---------- Start ---------"_s);
    }

    void relativeNameFollowsWorkingDirectory()
    {
        QVERIFY(QDir(m_tmp->path()).mkpath(u"a/b"_s));
        QDir::setCurrent(m_tmp->filePath(u"a"_s));
        EventLog log;
        startRecording(log, u"tarnyx.log"_s);
        log.addTimedEntry(u"t"_s, u"first"_s, QString());
        QDir::setCurrent(m_tmp->filePath(u"a/b"_s));
        log.addTimedEntry(u"t"_s, u"second"_s, QString());
        QCOMPARE(readFile(m_tmp->filePath(u"a/tarnyx.log"_s)), "[t]first>\r\n");
        QCOMPARE(readFile(m_tmp->filePath(u"a/b/tarnyx.log"_s)), "[t]first>\r\n[t]second>\r\n");
    }

    // A log whose file cannot be written or read says so once and goes on in memory.
    void unusableFileKeepsLogInMemory()
    {
        const QString blocker = m_tmp->filePath(u"file.txt"_s);
        QVERIFY(writeFile(blocker, "x"));
        EventLog log;
        startRecording(log, blocker + u"/tarnyx.log"_s);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^tarnyx: the event log "
                                                              u".*file.txt/tarnyx.log cannot be "
                                                              u"written: .+"_s));
        QTest::failOnWarning(QRegularExpression(u"."_s));
        log.addTimedEntry(u"t"_s, u"A"_s, QString());
        log.addTimedEntry(u"t"_s, u"B"_s, QString());
        QVERIFY(!log.saveLog(log.fileName()));
        QVERIFY(!log.loadLog(m_tmp->path())); // a directory
        QCOMPARE(log.records(), (Records{rec("t", "A"), rec("t", "B")}));

        log.setFileName(m_tmp->filePath(u"ok.log"_s));
        log.deleteEntry(5); // out of range: ignored
        log.deleteEntry(0);
        QCOMPARE(readFile(log.fileName()), "[t]B>\r\n");
    }

    // A working folder that another user may write too: the link they planted under the log's
    // name is neither read nor written through; the log replaces it, readable by this user alone.
    void otherUsersLinkIsNotWrittenThrough()
    {
        OTHER_USER_OR_SKIP();
        const QString shared = m_tmp->filePath(u"shared"_s);
        QVERIFY(QDir().mkdir(shared));
        QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 0777), 0);
        OtherUser::letThrough(shared);
        const QString mine = m_tmp->filePath(u"mine.txt"_s);
        QVERIFY(writeFile(mine, "[t]private>\r\n"));
        const QString logName = shared + u"/tarnyx.log"_s;
        // A link to a private file, and a pipe that would hold the program at its start.
        for (const QString& plant : {u"ln -s '%1' '%2'"_s, u"mkfifo '%2' # not '%1'"_s}) {
            QFile::remove(logName);
            QCOMPARE(OtherUser::shell(plant.arg(mine, logName)), 0);
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"cannot be read"_s));
            Records records;
            {
                EventLog log;
                startRecording(log, logName);
                log.addTimedEntry(u"t"_s, u"A"_s, QString());
                records = log.records();
            }
            QCOMPARE(readFile(mine), "[t]private>\r\n");
            QCOMPARE(records, (Records{rec("t", "A")}));
            struct stat st;
            QCOMPARE(::lstat(QFile::encodeName(logName).constData(), &st), 0);
            QVERIFY(S_ISREG(st.st_mode));
            QCOMPARE(st.st_mode & 07777, 0600u);
            QCOMPARE(readFile(logName), "[t]A>\r\n");
        }
    }

    void formatTimeWithoutZone_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        QTest::newRow("AP then zone") << u"en_US"_s << u"3/5/24 2:07:09 PM"_s;
        QTest::newRow("zone in []") << u"yue_HK"_s << u"2024/3/5 下午2:07:09"_s;
        QTest::newRow("quoted text kept") << u"bg_BG"_s << u"5.03.24 г. 14:07:09 ч."_s;
    }
    void formatTimeWithoutZone()
    {
        QFETCH(QString, locale);
        QFETCH(QString, expected);
        const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
        QCOMPARE(EventLog::formatTime(when, QLocale(locale)), expected);
    }

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    const QString m_startDir = QDir::currentPath();
};

QTEST_GUILESS_MAIN(TestEventLog)
#include "tst_eventlog.moc"

// The two programs run as users run them: real processes, a private configuration directory.
#include "core/update/VersionInfo.h"
#include "support/CupsFixture.h"
#include "support/OtherUser.h"
#include "support/TestHive.h"
#include "support/TestReport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runCli(const QString& home, const QStringList& args,
           const QString& program = QStringLiteral(TARNYX_CLI), const QStringList& unset = {},
           QProcessEnvironment env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
    // As from cron or su: no runtime directory, and still nothing on stderr but our own lines.
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    for (const QString& name : unset)
        env.remove(name);
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(30000))
        return {};
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

QJsonObject settingsJson(const QString& home)
{
    const Run r = runCli(home, {QStringLiteral("settings")});
    if (r.exitCode != 0)
        return {};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out, &error);
    return doc.object();
}

// A character device with the numbers of a system one, in a folder of the test: a fault that
// replaced it harms nothing outside. Needs root; false where devices cannot be made.
bool makeDevice(const QString& path, unsigned minor)
{
    return ::geteuid() == 0 &&
           ::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, minor)) == 0;
}

bool isCharDevice(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void settingsPrintsEveryDefault();
    void settingsPrintsLimitedValues();
    void damagedHiveStillGivesDefaults();
    void windowsHiveFormsLoad_data();
    void windowsHiveFormsLoad();
    void settingsFileKeptWhenUnreadableOrLinked();
    void unknownCommandShowsUsage();
    void usageErrorsSayWhatIsWrong_data();
    void usageErrorsSayWhatIsWrong();
    void helpAndVersionNeedNoDisplay();
    void headerPrintsOneObjectPerFile();
    void namesInALegacyCodePageAreRead();
    void pdfKeepsWhatItsTargetIs();
    void pdfWorkFileInASharedFolderIsNewAndOurs();
    void convertPassesBytesThrough();
    void findPrintsHitsAndExitStatus();
    void printWaitsForARestartingServer();
    void printWaitFollowsTheJob();
    void programStartsLogsAndEndsCleanly_data();
    void programStartsLogsAndEndsCleanly();

private:
    // tarnyx-cli against the private print server; `timePercent` shortens the program's waits.
    Run printCli(const QString& home, const QStringList& args, int timePercent = 100);
    QProcessEnvironment cupsEnvironment(const QString& home, int timePercent = 100) const;

    CupsFixture m_cups;
};

void TestCli::settingsPrintsEveryDefault()
{
    QTemporaryDir home;
    const QJsonObject s = settingsJson(home.path());
    const QStringList expectedKeys = {
        QStringLiteral("Directories"),   QStringLiteral("Printer"),
        QStringLiteral("Font"),          QStringLiteral("Erase"),
        QStringLiteral("Iconize"),       QStringLiteral("Autorun"),
        QStringLiteral("RunPaused"),     QStringLiteral("PrintByOne"),
        QStringLiteral("ShowHints"),     QStringLiteral("MaxPortrait"),
        QStringLiteral("HighPriority"),  QStringLiteral("ProxyServer"),
        QStringLiteral("ProxyAddr"),     QStringLiteral("ProxyPort"),
        QStringLiteral("VerCheck"),      QStringLiteral("LastVerCheck"),
        QStringLiteral("Indent"),        QStringLiteral("BorderLeft"),
        QStringLiteral("BorderTop"),     QStringLiteral("BorderRight"),
        QStringLiteral("BorderBottom"),  QStringLiteral("SystemFont"),
        QStringLiteral("WndTaskbar"),    QStringLiteral("Orientation"),
        QStringLiteral("HintHidePause"), QStringLiteral("SocketTimeout"),
        QStringLiteral("urlFileInf"),    QStringLiteral("urlTarnyx")};
    QStringList keys = s.keys();
    QStringList sortedExpected = expectedKeys;
    keys.sort();
    sortedExpected.sort();
    QCOMPARE(keys, sortedExpected);
    QCOMPARE(s.value(QStringLiteral("Font")), QJsonValue(QStringLiteral("Courier New")));
    QCOMPARE(s.value(QStringLiteral("Erase")), QJsonValue(true));
    QCOMPARE(s.value(QStringLiteral("Autorun")), QJsonValue(false));
    QCOMPARE(s.value(QStringLiteral("MaxPortrait")), QJsonValue(96));
    QCOMPARE(s.value(QStringLiteral("ProxyPort")), QJsonValue(QStringLiteral("8080")));
    QCOMPARE(s.value(QStringLiteral("HintHidePause")), QJsonValue(5000));
    QCOMPARE(s.value(QStringLiteral("SocketTimeout")), QJsonValue(30000));
    QVERIFY(s.value(QStringLiteral("urlFileInf"))
                .toString()
                .endsWith(QStringLiteral("/qel/file/reldp.inf")));
    QVERIFY(s.value(QStringLiteral("urlTarnyx"))
                .toString()
                .endsWith(QStringLiteral("/qel/tarnyx.htm")));
}

void TestCli::settingsPrintsLimitedValues()
{
    QTemporaryDir home;
    writeSettingsHive(home.filePath(QStringLiteral("Morvane/registry.reg")),
                      "\"MaxPortrait\"=dword:0000012c\r\n\"Indent\"=dword:00000007\r\n"
                      "\"BorderTop\"=dword:00000046\r\n\"Orientation\"=\"258\"\r\n");
    const QJsonObject s = settingsJson(home.path());
    QCOMPARE(s.value(QStringLiteral("MaxPortrait")), QJsonValue(233));
    QCOMPARE(s.value(QStringLiteral("Indent")), QJsonValue(3));
    QCOMPARE(s.value(QStringLiteral("BorderTop")), QJsonValue(70));
    QCOMPARE(s.value(QStringLiteral("Orientation")), QJsonValue(2));
}

void TestCli::damagedHiveStillGivesDefaults()
{
    QTemporaryDir home;
    const QString hive = home.filePath(QStringLiteral("Morvane/registry.reg"));
    writeSettingsHive(hive, "\"MaxPortrait\"=dword:zz\r\n");
    const Run r = runCli(home.path(), {QStringLiteral("settings")});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.err.contains("registry.reg"), r.err.constData());
    QCOMPARE(QJsonDocument::fromJson(r.out).object().value(QStringLiteral("MaxPortrait")),
             QJsonValue(96));
    // Reading alone never moves the file; the next save keeps it aside before writing anew.
    QVERIFY(QFile::exists(hive));
    runCli(home.path(), {QStringLiteral("settings"), QStringLiteral("/RegSaveSettings")});
    QCOMPARE(QDir(home.filePath(QStringLiteral("Morvane")))
                 .entryList({QStringLiteral("registry.reg.damaged-*")})
                 .size(),
             1);
}

void TestCli::windowsHiveFormsLoad_data()
{
    QTest::addColumn<QByteArray>("file");
    const QByteArray key = "[HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx\\Settings]\r\n";
    const QByteArray v5 = "Windows Registry Editor Version 5.00\r\n\r\n" + key;
    // "/Lst" as regedit writes an expandable text: UTF-16LE bytes with the closing NUL.
    QTest::newRow("expandable text") << v5 + "\"Directories\"=hex(2):2f,00,4c,00,73,00,74,00,"
                                             "00,00\r\n\"MaxPortrait\"=dword:00000064\r\n";
    QTest::newRow("Notepad on a Czech Windows, no BOM")
        << v5 + "; Mzdov\xE1 \xFA\xE8t\xE1rna\r\n\"Directories\"=\"/Lst\"\r\n"
                "\"MaxPortrait\"=dword:00000064\r\n";
    QTest::newRow("ends in Ctrl-Z")
        << v5 + "\"Directories\"=\"/Lst\"\r\n\"MaxPortrait\"=dword:00000064\r\n\x1A";
}

void TestCli::windowsHiveFormsLoad()
{
    QFETCH(QByteArray, file);
    QTemporaryDir home;
    QDir().mkpath(home.filePath(QStringLiteral("Morvane")));
    const QString hive = home.filePath(QStringLiteral("Morvane/registry.reg"));
    QFile f(hive);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();
    const QJsonObject s = settingsJson(home.path());
    QCOMPARE(s.value(QStringLiteral("Directories")), QJsonValue(QStringLiteral("/Lst")));
    QCOMPARE(s.value(QStringLiteral("MaxPortrait")), QJsonValue(100));
    QCOMPARE(s.value(QStringLiteral("Erase")), QJsonValue(true)); // read past the odd value
    // A save keeps every value; what it writes loads the same.
    runCli(home.path(), {QStringLiteral("settings"), QStringLiteral("/RegSaveSettings")});
    const QJsonObject again = settingsJson(home.path());
    QCOMPARE(again.value(QStringLiteral("Directories")), QJsonValue(QStringLiteral("/Lst")));
    QCOMPARE(again.value(QStringLiteral("MaxPortrait")), QJsonValue(100));
    QVERIFY(QDir(home.filePath(QStringLiteral("Morvane")))
                .entryList({QStringLiteral("registry.reg.damaged-*")})
                .isEmpty());
}

void TestCli::settingsFileKeptWhenUnreadableOrLinked()
{
    // A settings file that cannot be read is never written over with the little that is known.
    QTemporaryDir home;
    const QString hive = home.filePath(QStringLiteral("Morvane/registry.reg"));
    QVERIFY(QDir().mkpath(hive)); // as unreadable as a file can be, even for root
    runCli(home.path(), {QStringLiteral("settings"), QStringLiteral("/RegSaveSettings")});
    QVERIFY(QFileInfo(hive).isDir());

    // A link stays a link: its target is rewritten.
    QTemporaryDir linked;
    const QString target = linked.filePath(QStringLiteral("shared.reg"));
    writeSettingsHive(target, "\"Directories\"=\"/Lst\"\r\n");
    QVERIFY(QDir().mkpath(linked.filePath(QStringLiteral("Morvane"))));
    const QString link = linked.filePath(QStringLiteral("Morvane/registry.reg"));
    QVERIFY(QFile::link(target, link));
    runCli(linked.path(), {QStringLiteral("settings"), QStringLiteral("/RegSaveSettings")});
    QVERIFY(QFileInfo(link).isSymLink());
    QFile t(target);
    QVERIFY(t.open(QIODevice::ReadOnly));
    const QByteArray written = t.readAll();
    QVERIFY(written.contains("SocketTimeout") && written.contains("/Lst"));

    // A settings file linked to a null device: the writes go into it, the device stays.
    QTemporaryDir discarded;
    const QString null = discarded.filePath(u"null"_qs);
    if (!makeDevice(null, 3))
        QSKIP("making a device needs root");
    QVERIFY(QDir().mkpath(discarded.filePath(QStringLiteral("Morvane"))));
    QVERIFY(QFile::link(null, discarded.filePath(QStringLiteral("Morvane/registry.reg"))));
    const int status = runCli(discarded.path(), {u"settings"_qs, u"/RegSaveSettings"_qs}).exitCode;
    QVERIFY(isCharDevice(null));
    QCOMPARE(status, 0);
}

void TestCli::unknownCommandShowsUsage()
{
    QTemporaryDir home;
    const Run r = runCli(home.path(), {QStringLiteral("frobnicate")});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.contains("unknown command frobnicate") && r.err.contains("--help"));
}

void TestCli::usageErrorsSayWhatIsWrong_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("says");
    const QString report = QStringLiteral(TESTS_DATA "/LST00003.PRN");
    QTest::newRow("no command") << QStringList{} << QByteArray("missing COMMAND");
    QTest::newRow("unknown option, not a file")
        << QStringList{u"header"_qs, u"--bogus"_qs} << QByteArray("unknown option --bogus");
    QTest::newRow("unknown option after the text")
        << QStringList{u"find"_qs, u"TEXT"_qs, u"--bogus"_qs} << QByteArray("--bogus");
    QTest::newRow("missing spool directory")
        << QStringList{u"find"_qs, u"TEXT"_qs, u"/nonexistent"_qs} << QByteArray("/nonexistent");
    QTest::newRow("unknown code page")
        << QStringList{u"convert"_qs, u"999"_qs} << QByteArray("unknown code page 999");
    QTest::newRow("missing output") << QStringList{u"pdf"_qs, report} << QByteArray("OUTPUT");
    QTest::newRow("printer without a name")
        << QStringList{u"print"_qs, report, u"--printer"_qs} << QByteArray("--printer");
    QTest::newRow("extra argument")
        << QStringList{u"settings"_qs, u"x"_qs} << QByteArray("unexpected argument x");
}

void TestCli::usageErrorsSayWhatIsWrong()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, says);
    QTemporaryDir home;
    const Run r = runCli(home.path(), args);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(says), r.err.constData());
    QVERIFY2(r.err.endsWith('\n') && r.err.count('\n') == 1, r.err.constData());
}

void TestCli::helpAndVersionNeedNoDisplay()
{
    QTemporaryDir home;
    // The tray program answers before anything starts: no display, no running copy.
    const QStringList noDisplay = {u"DISPLAY"_qs, u"WAYLAND_DISPLAY"_qs, u"QT_QPA_PLATFORM"_qs};
    for (const auto& [program, name] :
         {std::pair{QStringLiteral(TARNYX_CLI), QByteArray("tarnyx-cli")},
          std::pair{QStringLiteral(TARNYX_GUI), QByteArray("tarnyx")}}) {
        Run r = runCli(home.path(), {u"--version"_qs}, program, noDisplay);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.split('\n').first(), QByteArray(name + ' ' + programVersion().toLatin1()));
        r = runCli(home.path(), {u"--help"_qs}, program, noDisplay);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.startsWith(QByteArray("usage: " + name + ' ')), r.out.constData());
    }
    // The settings switch is no argument of a command.
    QCOMPARE(runCli(home.path(), {u"settings"_qs, u"-regsavesettings"_qs}).exitCode, 0);
    // A missing report is named as missing.
    const Run r = runCli(home.path(), {u"header"_qs, u"/nonexistent"_qs});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.out.contains("Systém nemůže nalézt uvedený soubor"), r.out.constData());
}

void TestCli::headerPrintsOneObjectPerFile()
{
    QTemporaryDir home;
    const QString good = QStringLiteral(TESTS_DATA "/LST00003.PRN");
    const QString broken = home.filePath(QStringLiteral("LST00009.PRN"));
    QFile f(broken);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(reportHeaderLine("1;20240131;0815;T;60;1;121;0;852;100"));
    f.close();

    const Run r = runCli(home.path(), {QStringLiteral("header"), good, broken});
    QCOMPARE(r.exitCode, 1);
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
    QCOMPARE(first.value(QStringLiteral("Title")), QJsonValue(QStringLiteral("Přehled srážek")));
    QCOMPARE(first.value(QStringLiteral("Created")),
             QJsonValue(QStringLiteral("2024-01-31T08:15:30.000")));
    QCOMPARE(first.value(QStringLiteral("Period")), QJsonValue(QStringLiteral("01/2024")));
    QCOMPARE(first.value(QStringLiteral("Frames")), QJsonValue(false));
    QCOMPARE(first.value(QStringLiteral("CodePage")), QJsonValue(859));
    QVERIFY(first.value(QStringLiteral("FileTime")).toDouble() > 0);
    const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
    QCOMPARE(second.keys(), (QStringList{QStringLiteral("FileName"), QStringLiteral("error")}));
    QCOMPARE(second.value(QStringLiteral("error")),
             QJsonValue(QStringLiteral("Počet řádků na stránku sestavy je mimo povolený rozsah")));
}

// A name that is not valid UTF-8 (byte 0xFF) reaches the program as its bytes, through a shell,
// as a script would pass it; the JSON names it with the escape that gives those bytes back.
void TestCli::namesInALegacyCodePageAreRead()
{
    QTemporaryDir home;
    const QByteArray report = QFile::encodeName(home.path()) + "/good\xff.PRN";
    QVERIFY(QFile::copy(QStringLiteral(TESTS_DATA "/LST00003.PRN"),
                        home.filePath(QStringLiteral("x"))));
    QCOMPARE(::rename(QFile::encodeName(home.filePath(QStringLiteral("x"))).constData(),
                      report.constData()),
             0);
    const QString script =
        QStringLiteral("r=\"$1/good$(printf '\\377').PRN\"; \"$0\" header \"$r\" && "
                       "\"$0\" pdf \"$r\" \"$1/out.pdf\"");
    const Run r =
        runCli(home.path(), {QStringLiteral("-c"), script, QStringLiteral(TARNYX_CLI), home.path()},
               QStringLiteral("/bin/sh"));
    QCOMPARE(r.exitCode, 0);
    const QJsonObject header = QJsonDocument::fromJson(r.out).object();
    QVERIFY(header.value(QStringLiteral("FileName")).toString().endsWith(u"good\xdcff.PRN"));
    QCOMPARE(header.value(QStringLiteral("Pages")), QJsonValue(1));
    QVERIFY(QFileInfo(home.filePath(QStringLiteral("out.pdf"))).size() > 0);
}

// Only a regular file or a free name is replaced by a rename; a link stays, a FIFO, a device or
// standard output gets the document written into it, anything else is refused.
void TestCli::pdfKeepsWhatItsTargetIs()
{
    QTemporaryDir home;
    const QString report = QStringLiteral(TESTS_DATA "/LST00003.PRN");
    const auto pdf = [&](const QString& target) {
        return runCli(home.path(), {u"pdf"_qs, report, target});
    };
    const auto isPdf = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) && f.read(5) == "%PDF-";
    };

    const QString real = home.filePath(u"real.pdf"_qs);
    const QString link = home.filePath(u"link.pdf"_qs);
    QVERIFY(QFile::link(real, link)); // dangling until the document is made
    QCOMPARE(pdf(link).exitCode, 0);
    QVERIFY(QFileInfo(link).isSymLink());
    QVERIFY(isPdf(real));

    for (const QString& out : {u"-"_qs, u"/dev/stdout"_qs}) { // a pipe here
        const Run r = pdf(out);
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith("%PDF-"));
    }

    const QString fifo = home.filePath(u"fifo"_qs);
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QProcess reader;
    reader.setStandardOutputFile(home.filePath(u"fifo.out"_qs));
    reader.start(u"cat"_qs, {fifo});
    QVERIFY(reader.waitForStarted());
    QCOMPARE(pdf(fifo).exitCode, 0);
    if (!reader.waitForFinished(5000))
        reader.kill();
    QVERIFY(isPdf(home.filePath(u"fifo.out"_qs)));
    QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());

    const QString dir = home.filePath(u"dir"_qs);
    QVERIFY(QDir().mkpath(dir));
    Run r = pdf(dir);
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.err.count('\n'), 1);
    QVERIFY(QFileInfo(dir).isDir() && QDir(dir).isEmpty());
    // Nor is the report itself, under any of its names.
    const QString copy = home.filePath(u"LST00003.PRN"_qs);
    QVERIFY(QFile::copy(report, copy));
    QVERIFY(QFile::link(copy, home.filePath(u"again.PRN"_qs)));
    QCOMPARE(runCli(home.path(), {u"pdf"_qs, copy, copy}).exitCode, 2);
    r = runCli(home.path(), {u"pdf"_qs, copy, home.filePath(u"again.PRN"_qs)});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(QFileInfo(copy).size() == QFileInfo(report).size());
    QCOMPARE(QDir(home.path()).entryList({u".*part*"_qs}, QDir::Hidden | QDir::Files).size(), 0);

    // A full device: the write fails and says so; the device stays a device.
    const QString full = home.filePath(u"full"_qs);
    if (!makeDevice(full, 7))
        QSKIP("making a device needs root");
    r = pdf(full);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains("full"), r.err.constData());
    QVERIFY(isCharDevice(full));
}

// Another user who shares the target's folder and made files under names a work file could take
// gets nothing of the document, and the document is written all the same, as this user's file.
void TestCli::pdfWorkFileInASharedFolderIsNewAndOurs()
{
    OTHER_USER_OR_SKIP();
    QTemporaryDir home;
    const QString shared = home.filePath(u"shared"_qs);
    QVERIFY(QDir().mkdir(shared));
    QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
    OtherUser::letThrough(shared);
    const qint64 pid = ::getpid();
    QCOMPARE(OtherUser::shell(u"cd '%1' && i=%2; while [ $i -le %3 ]; do : > .out.pdf.part-$i; "
                              u"chmod 666 .out.pdf.part-$i; i=$((i+1)); done"_qs.arg(shared)
                                  .arg(pid)
                                  .arg(pid + 400)),
             0);
    const QString out = shared + u"/out.pdf"_qs;
    QCOMPARE(
        runCli(home.path(), {u"pdf"_qs, QStringLiteral(TESTS_DATA "/LST00003.PRN"), out}).exitCode,
        0);
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(out).constData(), &st), 0);
    QCOMPARE(st.st_uid, ::geteuid());
    const mode_t mask = ::umask(0);
    ::umask(mask);
    QCOMPARE(st.st_mode & 07777, 0666u & ~mask);
    const QFileInfoList planted =
        QDir(shared).entryInfoList({u".out.pdf.part-*"_qs}, QDir::Hidden | QDir::Files);
    QCOMPARE(planted.size(), 401);
    for (const QFileInfo& file : planted)
        QCOMPARE(file.size(), 0);
}

void TestCli::findPrintsHitsAndExitStatus()
{
    QTemporaryDir home;
    const QString archive = home.filePath(QStringLiteral("spool/BAKPRN"));
    QVERIFY(QDir().mkpath(archive));
    const QString report = archive + QStringLiteral("/20240131-081530-LST00003.PRN");
    QVERIFY(QFile::copy(QStringLiteral(TESTS_DATA "/LST00003.PRN"), report));
    // Not an archived report's name: never searched.
    QVERIFY(QFile::copy(QStringLiteral(TESTS_DATA "/LST00003.PRN"), archive + u"/LST00003.PRN"));

    Run r = runCli(home.path(), {QStringLiteral("find"), QStringLiteral("DVORAK"),
                                 QStringLiteral("--no-diacritics"), home.filePath(u"spool"_qs)});
    QCOMPARE(r.exitCode, 0);
    QList<QByteArray> lines = r.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    const QJsonObject hit = QJsonDocument::fromJson(lines[0]).object();
    QCOMPARE(hit.keys(), (QStringList{u"created"_qs, u"file"_qs, u"hits"_qs, u"line"_qs, u"page"_qs,
                                      u"period"_qs, u"title"_qs}));
    QCOMPARE(hit.value(u"file"), QJsonValue(report));
    QCOMPARE(hit.value(u"title"), QJsonValue(u"Přehled srážek"_qs));
    QCOMPARE(hit.value(u"period"), QJsonValue(u"01/2024"_qs));
    QCOMPARE(hit.value(u"created"), QJsonValue(u"2024-01-31T08:15:30.000"_qs));
    QCOMPARE(hit.value(u"page"), QJsonValue(1));
    QCOMPARE(hit.value(u"line"), QJsonValue(7));
    QCOMPARE(hit.value(u"hits"), QJsonValue(1));

    // Diacritics count unless told otherwise; nothing found is status 1.
    r = runCli(home.path(),
               {QStringLiteral("find"), QStringLiteral("dvorak"), home.filePath(u"spool"_qs)});
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.out.isEmpty());

    // Without spool directories, the configured ones.
    writeSettingsHive(home.filePath(QStringLiteral("Morvane/registry.reg")),
                      "\"Directories\"=\"" + QFile::encodeName(home.filePath(u"spool"_qs)) +
                          "\"\r\n");
    r = runCli(home.path(), {QStringLiteral("find"), QStringLiteral("celkem")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out.count('\n'), 1);

    r = runCli(home.path(), {QStringLiteral("find")});
    QCOMPARE(r.exitCode, 2);
    r = runCli(home.path(), {QStringLiteral("find"), QStringLiteral("--diacritics"), u"x"_qs});
    QCOMPARE(r.exitCode, 2);
}

void TestCli::convertPassesBytesThrough()
{
    const auto convert = [](const QString& codePage, const QByteArray& input) {
        QProcess p;
        p.start(QStringLiteral(TARNYX_CLI), {QStringLiteral("convert"), codePage});
        p.waitForStarted();
        p.write(input);
        p.closeWriteChannel();
        return p.waitForFinished() && p.exitCode() == 0 ? p.readAllStandardOutput()
                                                        : QByteArray("<failed>");
    };
    // CP852: Č, ─, │ and a NUL; the output has exactly as many bytes.
    QCOMPARE(convert(QStringLiteral("852"), QByteArray("\xAC\xC4\xB3\0x", 5)),
             QByteArray("\xC8\xA6-\0x", 5));
    // Windows-1250 is one of the header's code pages too: its text comes out as it went in.
    QCOMPARE(convert(QStringLiteral("1250"), QByteArray("\xC8\xA6-\0x", 5)),
             QByteArray("\xC8\xA6-\0x", 5));

    QTemporaryDir home;
    QCOMPARE(runCli(home.path(), {QStringLiteral("convert"), QStringLiteral("x")}).exitCode, 2);
}

QProcessEnvironment TestCli::cupsEnvironment(const QString& home, int timePercent) const
{
    QProcessEnvironment env = m_cups.environment();
    env.insert(u"XDG_CONFIG_HOME"_qs, home);
    env.insert(u"TARNYX_TEST_TIME_PERCENT"_qs, QString::number(timePercent));
    return env;
}

Run TestCli::printCli(const QString& home, const QStringList& args, int timePercent)
{
    return runCli(home, args, QStringLiteral(TARNYX_CLI), {}, cupsEnvironment(home, timePercent));
}

// A print server that is away is no unknown printer: the command waits for one that restarts,
// as the tray program's jobs do, and else fails with status 1.
void TestCli::printWaitsForARestartingServer()
{
    QVERIFY2(m_cups.start({u"ippe"_qs}), qPrintable(m_cups.reason()));
    QTemporaryDir home;
    const QString report = QStringLiteral(TESTS_DATA "/LST00003.PRN");
    const QStringList print{u"print"_qs, report, u"--printer"_qs, u"ippe"_qs};
    const auto saysNoAnswer = [](const Run& r) {
        return r.exitCode == 1 && r.err.contains("Tiskový server neodpovídá.") &&
               !r.err.contains("installed");
    };
    m_cups.stop();
    for (const QStringList& args : {print, QStringList{u"print"_qs, report},
                                    QStringList{u"pdf"_qs, report, home.filePath(u"out.pdf"_qs),
                                                u"--printer"_qs, u"ippe"_qs}}) {
        const Run r = printCli(home.path(), args, 5);
        QVERIFY2(saysNoAnswer(r),
                 qPrintable(args.join(u' ') + u": "_qs + QString::fromUtf8(r.err)));
    }
    QVERIFY2(m_cups.restart(), qPrintable(m_cups.reason()));
    QVERIFY(m_cups.hang());
    const Run hung = printCli(home.path(), print, 5);
    QVERIFY2(saysNoAnswer(hung), hung.err.constData());
    m_cups.resume();

    // Back while the command waits: the report prints.
    m_cups.stop();
    QProcess p;
    p.setProcessEnvironment(cupsEnvironment(home.path()));
    p.start(QStringLiteral(TARNYX_CLI), print);
    QVERIFY(p.waitForStarted());
    QVERIFY2(m_cups.restart(2000), qPrintable(m_cups.reason()));
    QVERIFY(p.waitForFinished(30000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    QVERIFY(!m_cups.waitForJob(u"ippe"_qs).isEmpty());
}

// --wait ends with the job: 0 once printed, 1 with the reason when it was not; a stopped printer
// keeps it waiting.
void TestCli::printWaitFollowsTheJob()
{
    QVERIFY2(m_cups.start({u"mzdy"_qs}), qPrintable(m_cups.reason()));
    QVERIFY2(m_cups.addScriptQueue(
                 u"vypnuta"_qs, "cat >/dev/null; echo 'ERROR: printer is switched off' >&2; exit 1",
                 {u"printer-error-policy=abort-job"_qs}),
             qPrintable(m_cups.reason()));
    QTemporaryDir home;
    const QString report = QStringLiteral(TESTS_DATA "/LST00003.PRN");
    const QStringList failing{u"print"_qs, report, u"--printer"_qs, u"vypnuta"_qs};
    Run r = printCli(home.path(), failing + QStringList{u"--wait"_qs});
    QCOMPARE(r.exitCode, 1);
    const QString err = QString::fromUtf8(r.err);
    QVERIFY2(err.contains(u"přerušil") && err.contains(u"printer is switched off") &&
                 err.contains(u"LST00003.PRN") && err.contains(u"Přehled srážek"),
             qPrintable(err));
    QCOMPARE(printCli(home.path(), failing).exitCode, 0); // handed over is all it says

    r = printCli(home.path(), {u"print"_qs, report, u"--printer=mzdy"_qs, u"--wait"_qs});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.err.isEmpty(), r.err.constData()); // no progress where stderr is no terminal
    QVERIFY(!m_cups.waitForJob(u"mzdy"_qs).isEmpty());

    QVERIFY2(m_cups.runTool(u"cupsdisable"_qs, {u"mzdy"_qs}), qPrintable(m_cups.reason()));
    QProcess p;
    p.setProcessEnvironment(cupsEnvironment(home.path()));
    p.start(QStringLiteral(TARNYX_CLI), {u"print"_qs, report, u"--printer=mzdy"_qs, u"--wait"_qs});
    QVERIFY(!p.waitForFinished(3000));
    QVERIFY2(m_cups.runTool(u"cupsenable"_qs, {u"mzdy"_qs}), qPrintable(m_cups.reason()));
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!m_cups.waitForJob(u"mzdy"_qs).isEmpty());
}

void TestCli::programStartsLogsAndEndsCleanly_data()
{
    QTest::addColumn<bool>("sharedTemp");
    QTest::newRow("runtime folder") << false;
    // As from su or cron: no runtime folder, and a temporary folder that another user shares and
    // where they hold locks under the names the program's locks had there.
    QTest::newRow("shared temporary folder") << true;
}

void TestCli::programStartsLogsAndEndsCleanly()
{
    QFETCH(bool, sharedTemp);
    QTemporaryDir home;
    QTemporaryDir work;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path()); // a program instance of its own
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QByteArray holder;
    const auto release = qScopeGuard([&holder] {
        if (holder.toInt() > 0)
            ::kill(pid_t(holder.toInt()), SIGKILL);
    });
    if (sharedTemp) {
        OTHER_USER_OR_SKIP();
        const QString shared = home.filePath(u"tmp"_qs);
        QVERIFY(QDir().mkdir(shared));
        QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
        OtherUser::letThrough(shared);
        const QByteArray hash =
            QCryptographicHash::hash(
                QFileInfo(QStringLiteral(TARNYX_GUI)).canonicalFilePath().toUpper().toUtf8(),
                QCryptographicHash::Sha256)
                .toHex()
                .left(24);
        QCOMPARE(
            OtherUser::shell(u"cd '%1' && (exec 8>>mutex_morvane_tarnyx.lock "
                             u"9>>tarnyx-%2.socket.lock; flock -x 8; flock -x 9; "
                             u"exec sleep 60) >/dev/null 2>&1 </dev/null & echo $!; sleep 1"_qs.arg(
                                 shared, QString::fromLatin1(hash)),
                             &holder),
            0);
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("TMPDIR"), shared);
    }
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(work.path());
    p.start(QStringLiteral(TARNYX_GUI), {QStringLiteral("-LOG")});
    QVERIFY(p.waitForStarted());
    const QString log = work.filePath(QStringLiteral("tarnyx.log"));
    // The start record is written as soon as the controller exists.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), 20000);
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);

    QFile f(log);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    // The records of a start and an orderly end, and the empty rest after the last CR LF.
    const QList<QByteArray> expected = {"]---------- Start --------->\r",
                                        "]FormCloseQuery>\r",
                                        "]MainFormClose>\r",
                                        "]MainFormDestroy>\r",
                                        "]DataModuleDestroy>begin\r",
                                        "]DataModuleDestroy>end\r"};
    QCOMPARE(lines.size(), expected.size() + 1);
    for (qsizetype i = 0; i < expected.size(); ++i)
        QVERIFY2(lines[i].endsWith(expected[i]), lines[i].constData());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"

#include "app/CliCommands.h"

#include "core/archive/Archive.h"
#include "core/archive/ArchiveScan.h"
#include "core/archive/ArchiveSearch.h"
#include "core/config/AppSettings.h"
#include "core/config/SettingsConstants.h"
#include "core/jobs/JobState.h"
#include "core/jobs/QueueStatus.h"
#include "core/platform/CommandLine.h"
#include "core/platform/FileInfo.h"
#include "core/platform/FileName.h"
#include "core/platform/OutputFile.h"
#include "core/platform/PrinterCatalog.h"
#include "core/platform/SharedRead.h"
#include "core/platform/TimeScale.h"
#include "core/report/CodePages.h"
#include "core/report/OrientationMemory.h"
#include "core/report/ReportFile.h"
#include "core/report/ReportHeader.h"
#include "core/update/VersionInfo.h"
#include "print/CupsClient.h"
#include "print/JobHost.h"
#include "print/PdfDevice.h"
#include "print/PrintJob.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QTextStream>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace cli {

namespace {

// One JSON object whose keys keep the order they were added in.
class OrderedJson
{
public:
    void add(const QString& key, const QJsonValue& value)
    {
        m_items << QStringLiteral("%1: %2").arg(encode(key), encode(value));
    }
    // One item a line, indented.
    QString text() const
    {
        return QStringLiteral("{\n  ") + m_items.join(QStringLiteral(",\n  ")) +
               QStringLiteral("\n}");
    }
    // All on one line.
    QString line() const { return u'{' + m_items.join(QStringLiteral(", ")) + u'}'; }

private:
    static QString encode(const QJsonValue& v)
    {
        const QByteArray array = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
        return QString::fromUtf8(array.mid(1, array.size() - 2));
    }
    QStringList m_items;
};

const char* const kUsage =
    "usage: tarnyx-cli COMMAND [ARGUMENTS]\n"
    "       tarnyx-cli --help | --version\n"
    "commands:\n"
    "  settings           print the effective settings as JSON\n"
    "  header FILE...     print the header of each report file as one JSON line\n"
    "  convert CODEPAGE   convert standard input from a report code page (852, 862, 859, 1250)\n"
    "                     to Windows-1250 on standard output\n"
    "  pdf REPORT OUTPUT [--printer NAME]\n"
    "                     lay the report out and render it into a PDF file (A4, or the page\n"
    "                     layout of the named printer); OUTPUT \"-\" is standard output, a\n"
    "                     FIFO or a device is written as it is, a link's target is replaced\n"
    "  print REPORT [--printer NAME] [--wait]\n"
    "                     print the report on a CUPS printer (the configured one by default);\n"
    "                     with --wait, follow the job until it is printed or has failed\n"
    "  find TEXT [--no-diacritics] [SPOOLDIR...]\n"
    "                     print each archived report that holds TEXT as one JSON line (the\n"
    "                     archives of the configured spool directories by default)\n"
    "\"--\" ends the options: every argument after it is a file name or a text.\n"
    "/RegSaveSettings (with \"/\" or \"-\", any letter case) writes the update constants back\n"
    "to the settings.\n"
    "exit status: 0 done; 1 failed (a report or file that cannot be read, printed or written,\n"
    "the print server does not answer; print --wait: the job did not print; find: no report\n"
    "holds TEXT); 2 usage error (unknown command or option, missing or extra argument, unknown\n"
    "printer or code page, an output or directory that cannot be used)\n";

// What a command takes: its operands (the last may repeat), its options.
struct CommandForm
{
    const char* name;
    int (*run)(Context&, const Arguments&);
    const char* synopsis; // the arguments, as the usage shows them
    QStringList operands; // names of the required operands, in order
    bool moreOperands;    // further operands allowed after them
    QStringList flags;    // options without a value
    QStringList valued;   // options followed by a value
};

const CommandForm kCommands[] = {
    {"settings", settings, "", {}, false, {}, {}},
    {"header", header, "FILE...", {QStringLiteral("FILE")}, true, {}, {}},
    {"convert", convert, "CODEPAGE < INPUT > OUTPUT", {QStringLiteral("CODEPAGE")}, false, {}, {}},
    {"pdf",
     pdf,
     "REPORT OUTPUT [--printer NAME]",
     {QStringLiteral("REPORT"), QStringLiteral("OUTPUT")},
     false,
     {},
     {QStringLiteral("--printer")}},
    {"print",
     print,
     "REPORT [--printer NAME] [--wait]",
     {QStringLiteral("REPORT")},
     false,
     {QStringLiteral("--wait")},
     {QStringLiteral("--printer")}},
    {"find",
     find,
     "TEXT [--no-diacritics] [SPOOLDIR...]",
     {QStringLiteral("TEXT")},
     true,
     {QStringLiteral("--no-diacritics")},
     {}},
};

const CommandForm& commandForm(const char* name)
{
    for (const CommandForm& form : kCommands)
        if (std::strcmp(form.name, name) == 0)
            return form;
    Q_UNREACHABLE();
}

// One line: what is wrong, and how the command is used. Returns the exit status of a usage error.
int usageError(Context& ctx, const CommandForm& form, const QString& what)
{
    ctx.err << "tarnyx-cli " << form.name << ": " << what << " (usage: tarnyx-cli " << form.name;
    if (*form.synopsis)
        ctx.err << ' ' << form.synopsis;
    ctx.err << ")\n";
    return 2;
}

int usageError(Context& ctx, const char* command, const QString& what)
{
    return usageError(ctx, commandForm(command), what);
}

enum class Parsed
{
    Ok,
    Help,
    Version,
    Error
};

// Takes the options out of a command's arguments. Only arguments that begin with "--" are options
// ("-" alone is an operand, and a text such as "-50" too); "--" ends them.
Parsed parseArguments(Context& ctx, const CommandForm& form, const QStringList& args,
                      Arguments& parsed)
{
    bool options = true;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (!options || !arg.startsWith(QLatin1String("--"))) {
            parsed.operands << arg;
            continue;
        }
        if (arg.size() == 2) {
            options = false;
            continue;
        }
        if (arg == QLatin1String("--help"))
            return Parsed::Help;
        if (arg == QLatin1String("--version"))
            return Parsed::Version;
        const qsizetype equals = arg.indexOf(u'=');
        const QString name = equals < 0 ? arg : arg.left(equals);
        if (form.flags.contains(name)) {
            if (equals >= 0) {
                usageError(ctx, form, QStringLiteral("%1 takes no value").arg(name));
                return Parsed::Error;
            }
            parsed.flags << name;
        } else if (form.valued.contains(name)) {
            QString value;
            if (equals >= 0)
                value = arg.mid(equals + 1);
            else if (i + 1 < args.size())
                value = args.at(++i);
            if (value.isEmpty()) {
                usageError(ctx, form, QStringLiteral("%1 needs a value").arg(name));
                return Parsed::Error;
            }
            parsed.values.insert(name, value);
        } else {
            usageError(ctx, form, QStringLiteral("unknown option %1").arg(arg));
            return Parsed::Error;
        }
    }
    if (parsed.operands.size() < form.operands.size()) {
        usageError(ctx, form,
                   QStringLiteral("missing %1").arg(form.operands.at(parsed.operands.size())));
        return Parsed::Error;
    }
    if (!form.moreOperands && parsed.operands.size() > form.operands.size()) {
        usageError(ctx, form,
                   QStringLiteral("unexpected argument %1")
                       .arg(platform::displayFileName(parsed.operands.at(form.operands.size()))));
        return Parsed::Error;
    }
    return Parsed::Ok;
}

// Answers the questions of a print job without windows: an unknown title follows the width
// rule, and an error is written to stderr.
class CliHost : public JobHost
{
public:
    int askOrientation(const ReportHeader&) override { return OrientByWidth; }
    // The command reports the error itself once the job has ended.
    void showPrintError(PrintJob& job) override { job.setChoice(ErrorChoice::Cancel); }
};

// Prints one report through a print job onto `device`; the report file stays where it is. The
// report's title goes to `title` when given.
int printReport(Context& ctx, const QString& report, AppSettings settings, PrinterDevice& device,
                QString* title = nullptr)
{
    orientationMemory().load();
    JobState state;
    CliHost host;
    {
        PrintJob job(QFileInfo(report).absoluteFilePath(),
                     PrintContext{settings, orientationMemory(), state, device, host});
        job.setDisposeWhenDone(false);
        job.run();
        if (title)
            *title = cp1250ToUnicode(job.header().title);
    }
    const QString error = state.takeWorkerError();
    if (!error.isEmpty()) {
        QString text = error;
        text.replace(u'\r', u'\n');
        ctx.err << text << '\n';
        return 1;
    }
    return 0;
}

// The requests of the commands that print are a print job's: they wait for a scheduler that
// restarts (up to 15 s) and give up on one that hangs. Nothing stops them but the end of the
// process.
const std::atomic<bool> kNoStop{false};

int noAnswer(Context& ctx, const char* command)
{
    ctx.err << "tarnyx-cli " << command << ": " << PrinterCatalog::noAnswerText() << '\n';
    return 1;
}

int noSuchQueue(Context& ctx, const char* command, const QString& queue)
{
    const QStringList installed = ctx.printers.printerNames();
    ctx.err << "tarnyx-cli " << command << ": no printer named " << queue << "; installed: "
            << (installed.isEmpty() ? QStringLiteral("none") : installed.join(QStringLiteral(", ")))
            << '\n';
    return 2;
}

// A queue named on the command line must exist: a typing error never prints elsewhere. 0 with
// the queue's installed spelling (letter case ignored); else the reason, and exit status 2 for an
// unknown queue, 1 for a scheduler that does not answer (its queues are not known then).
int checkQueue(Context& ctx, const char* command, QString& queue)
{
    if (queue.isEmpty())
        return 0;
    cupsclient::QueueSetup setup;
    switch (cupsclient::queueSetup(queue, QPageSize(), setup, &kNoStop)) {
    case cupsclient::Answer::Yes:
        queue = setup.name;
        return 0;
    case cupsclient::Answer::No:
        return noSuchQueue(ctx, command, queue);
    case cupsclient::Answer::NoAnswer:
        break;
    }
    return noAnswer(ctx, command);
}

// Follows the job `job` at the print server until it ends: 0 when it printed, 1 with the reason
// when it did not or the server stays away. On a terminal, stderr gets a line each time what the
// job is doing changes (a line rewritten in place would break apart where it is wider than the
// terminal); elsewhere only a failure is told.
int followJob(Context& ctx, const SubmittedJob& job)
{
    constexpr int kPollMs = 500;
    // A server away for this long in a row is not restarting.
    constexpr int kAwayMs = 60000;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    QString shown;
    const auto show = [&](const QString& doing) {
        if (!terminal)
            return;
        const QString line =
            QStringLiteral("Úloha %1 na tiskárně %2: %3").arg(job.jobId).arg(job.queue, doing);
        if (line == shown)
            return;
        ctx.err << line << '\n';
        ctx.err.flush();
        shown = line;
    };
    QDeadlineTimer away(scaledWaitMs(kAwayMs));
    for (;;) {
        JobStatus status;
        if (cupsclient::jobStatus(job.jobId, status) == cupsclient::Answer::NoAnswer) {
            if (away.hasExpired())
                return noAnswer(ctx, "print");
            show(PrinterCatalog::noAnswerText());
            QThread::msleep(kPollMs);
            continue;
        }
        away.setRemainingTime(scaledWaitMs(kAwayMs));
        if (jobEnded(status)) {
            show(jobStateText(status));
            if (!jobFailed(status))
                return 0;
            ctx.err << "tarnyx-cli print: " << jobFailureText(job, jobFailureReason(status))
                    << '\n';
            return 1;
        }
        QString doing = jobStateText(status);
        // A job that waits says why when its printer has a problem (stopped, out of paper).
        if (status.state == JobStatus::State::Pending ||
            status.state == JobStatus::State::Stopped) {
            PrinterStatus printer;
            cupsclient::printerStatus(job.queue, printer);
            const QStringList problems = printerProblems(job.queue, printer);
            if (!problems.isEmpty())
                doing += QStringLiteral(" – ") + problems.join(u' ');
        }
        show(doing);
        QThread::msleep(kPollMs);
    }
}

QJsonValue textValue(const QByteArray& cp1250)
{
    return cp1250ToUnicode(cp1250);
}

// When the report was made, as ISO text; null when its header gives no date.
QJsonValue createdValue(const ReportHeader& h)
{
    return h.created.hasDate() ? QJsonValue(h.created.toIsoString()) : QJsonValue(QJsonValue::Null);
}

} // namespace

int settings(Context& ctx, const Arguments&)
{
    AppSettings s;
    s.load(ctx.printers);
    const SettingsConstants& c = settingsConstants();

    OrderedJson json;
    json.add(QStringLiteral("Directories"), s.directories);
    json.add(QStringLiteral("Printer"), s.printer);
    json.add(QStringLiteral("Font"), s.font);
    json.add(QStringLiteral("Erase"), s.erase);
    json.add(QStringLiteral("Iconize"), s.iconize);
    json.add(QStringLiteral("Autorun"), s.autorun);
    json.add(QStringLiteral("RunPaused"), s.runPaused);
    json.add(QStringLiteral("PrintByOne"), s.printByOne);
    json.add(QStringLiteral("ShowHints"), s.showHints);
    json.add(QStringLiteral("MaxPortrait"), s.maxPortrait);
    json.add(QStringLiteral("HighPriority"), s.highPriority);
    json.add(QStringLiteral("ProxyServer"), s.proxyServer);
    json.add(QStringLiteral("ProxyAddr"), s.proxyAddr);
    json.add(QStringLiteral("ProxyPort"), s.proxyPort);
    json.add(QStringLiteral("VerCheck"), s.verCheck);
    json.add(QStringLiteral("LastVerCheck"), s.lastVerCheck);
    json.add(QStringLiteral("Indent"), s.indent);
    json.add(QStringLiteral("BorderLeft"), s.borders.left());
    json.add(QStringLiteral("BorderTop"), s.borders.top());
    json.add(QStringLiteral("BorderRight"), s.borders.right());
    json.add(QStringLiteral("BorderBottom"), s.borders.bottom());
    json.add(QStringLiteral("SystemFont"), s.systemFont);
    json.add(QStringLiteral("WndTaskbar"), s.wndTaskbar);
    json.add(QStringLiteral("Orientation"), s.orientation);
    json.add(QStringLiteral("HintHidePause"), s.hintHidePause);
    json.add(QStringLiteral("SocketTimeout"), c.socketTimeout);
    json.add(QStringLiteral("urlFileInf"), c.urlFileInf);
    json.add(QStringLiteral("urlTarnyx"), c.urlTarnyx);
    ctx.out << json.text() << '\n';
    return 0;
}

int header(Context& ctx, const Arguments& args)
{
    int status = 0;
    for (const QString& file : args.operands) {
        ReportHeader h(QFileInfo(file).absoluteFilePath());
        QString message;
        OrderedJson json;
        json.add(QStringLiteral("FileName"), h.fileName);
        // A file that cannot be opened says why (missing, refused, in use), not that its format
        // is wrong.
        {
            platform::SharedReadFile file;
            const platform::SharedReadFile::Result opened = file.open(h.fileName);
            if (opened == platform::SharedReadFile::Result::InUse)
                message = fileInUseText();
            else if (opened != platform::SharedReadFile::Result::Opened)
                message = fileErrorText(file.error());
            else if (S_ISDIR(file.status().st_mode))
                message = fileErrorText(EISDIR);
        }
        if (!message.isEmpty() || !h.loadHeader(message)) {
            json.add(QStringLiteral("error"), message);
            ctx.out << json.line() << '\n';
            status = 1;
            continue;
        }
        json.add(QStringLiteral("FileSize"), h.fileSize);
        json.add(QStringLiteral("FileTime"), qint64(h.fileTime));
        json.add(QStringLiteral("Version"), h.version);
        json.add(QStringLiteral("DateText"), textValue(h.dateText));
        json.add(QStringLiteral("TimeText"), textValue(h.timeText));
        json.add(QStringLiteral("Created"), createdValue(h));
        json.add(QStringLiteral("Year"), h.year);
        json.add(QStringLiteral("Month"), h.month);
        json.add(QStringLiteral("Title"), textValue(h.title));
        json.add(QStringLiteral("Width"), h.width);
        json.add(QStringLiteral("Pages"), h.pages);
        json.add(QStringLiteral("LinesPerPage"), h.linesPerPage);
        json.add(QStringLiteral("CodePage"), h.codePage);
        json.add(QStringLiteral("Scale"), h.scale);
        json.add(QStringLiteral("Frames"), h.frames);
        json.add(QStringLiteral("Period"), textValue(h.period));
        ctx.out << json.line() << '\n';
    }
    return status;
}

int convert(Context& ctx, const Arguments& args)
{
    const QString& given = args.operands.first();
    const int codePage = given.toInt();
    // Windows-1250, the header's fourth code page, converts to itself, as the header reader has it.
    if (codePage != CodePage852 && codePage != CodePageKamenicky && codePage != CodePageIso88592 &&
        codePage != CodePage1250)
        return usageError(ctx, "convert",
                          QStringLiteral("unknown code page %1 (852, 862, 859 or 1250)")
                              .arg(platform::displayFileName(given)));
    ctx.out.flush();
    QFile in;
    QFile out;
    if (!in.open(stdin, QIODevice::ReadOnly) || !out.open(stdout, QIODevice::WriteOnly))
        return 1;
    // The conversion is byte for byte, so the input can go through in pieces of any size.
    for (;;) {
        const QByteArray chunk = in.read(1 << 16);
        if (chunk.isEmpty())
            break;
        if (out.write(convertReportText(chunk, codePage)) != chunk.size()) {
            ctx.err << "tarnyx-cli convert: cannot write the output\n";
            return 1;
        }
    }
    return out.flush() ? 0 : 1;
}

int pdf(Context& ctx, const Arguments& args)
{
    QString queue = args.values.value(QStringLiteral("--printer"));
    if (const int status = checkQueue(ctx, "pdf", queue))
        return status;
    // Made beside the target and renamed over it when whole: a failure leaves no new file. A FIFO,
    // a device or standard output gets the whole document once it is made; a link stays a link.
    const QString target = args.operands.at(1);
    platform::OutputFile output(target);
    if (output.target().kind == platform::OutputTarget::Kind::Refused) {
        ctx.err << "tarnyx-cli pdf: cannot write " << platform::displayFileName(target) << ": "
                << output.target().reason << '\n';
        return 2;
    }
    // Rendering a report over itself would lose the report.
    struct stat in;
    struct stat out;
    if (output.target().kind == platform::OutputTarget::Kind::File &&
        ::stat(platform::encodeFileName(args.operands.at(0)).constData(), &in) == 0 &&
        ::stat(platform::encodeFileName(output.target().path).constData(), &out) == 0 &&
        in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        ctx.err << "tarnyx-cli pdf: OUTPUT " << platform::displayFileName(target)
                << " is the report itself\n";
        return 2;
    }
    if (output.workPath().isEmpty()) {
        ctx.err << "tarnyx-cli pdf: cannot make a temporary file: " << output.workError() << '\n';
        return 1;
    }
    AppSettings settings;
    settings.load(ctx.printers);
    PdfFileDevice device(output.workPath());
    if (!queue.isEmpty()) {
        QPageLayout layout;
        int resolution = 0;
        // Known a moment ago: the scheduler went away, or the queue did.
        if (!CupsQueueDevice::queueSetup(queue, layout, resolution))
            return ctx.printers.available() ? noSuchQueue(ctx, "pdf", queue) : noAnswer(ctx, "pdf");
        device.setPageSetup(layout, resolution);
    }
    settings.printer = device.printerName(); // a document is made, whatever the settings say
    const int status = printReport(ctx, args.operands.at(0), settings, device);
    if (status != 0)
        return status;
    ctx.out.flush();
    if (!output.commit()) {
        ctx.err << "tarnyx-cli pdf: cannot write " << platform::displayFileName(target) << ": "
                << QString::fromLocal8Bit(std::strerror(errno)) << '\n';
        return 1;
    }
    return 0;
}

int print(Context& ctx, const Arguments& args)
{
    QString queue = args.values.value(QStringLiteral("--printer"));
    QString defaultQueue;
    if (queue.isEmpty()) {
        // Asked first, waiting for a scheduler that restarts: the settings take the printers
        // for granted, and "none installed" would be wrong while they cannot be asked.
        if (cupsclient::defaultQueue(defaultQueue, &kNoStop) == cupsclient::Answer::NoAnswer)
            return noAnswer(ctx, "print");
    } else if (const int status = checkQueue(ctx, "print", queue)) {
        return status;
    }
    AppSettings settings;
    settings.load(ctx.printers);
    if (!queue.isEmpty())
        settings.printer = queue;
    if (settings.printer.isEmpty())
        settings.printer = defaultQueue;
    if (settings.printer.isEmpty()) {
        ctx.err << "tarnyx-cli print: no printer is installed\n";
        return 1;
    }
    CupsQueueDevice device;
    device.setStopFlag(&kNoStop);
    SubmittedJob job;
    const int status = printReport(ctx, args.operands.at(0), settings, device, &job.title);
    if (status != 0 || !args.flags.contains(QStringLiteral("--wait")) || device.jobId() <= 0)
        return status;
    job.jobId = device.jobId();
    job.queue = device.printerName();
    job.fileName = platform::displayFileName(QFileInfo(args.operands.at(0)).fileName());
    return followJob(ctx, job);
}

int find(Context& ctx, const Arguments& args)
{
    const bool ignoreDiacritics = args.flags.contains(QStringLiteral("--no-diacritics"));
    const QString& text = args.operands.first();
    if (text.isEmpty())
        return usageError(ctx, "find", QStringLiteral("TEXT is empty"));
    QStringList archives;
    if (args.operands.size() == 1) {
        AppSettings settings;
        settings.load(ctx.printers);
        archives = archiveDirectories(settings.directories);
    }
    for (const QString& spool : args.operands.mid(1)) {
        const QString path = QFileInfo(spool).absoluteFilePath();
        // A typing error in a directory's name is not "nothing found".
        struct stat st;
        const bool exists = ::stat(platform::encodeFileName(path).constData(), &st) == 0;
        if (!exists || !S_ISDIR(st.st_mode))
            return usageError(ctx, "find",
                              QStringLiteral("%1: %2").arg(
                                  platform::displayFileName(spool),
                                  QString::fromLocal8Bit(std::strerror(exists ? ENOTDIR : errno))));
        archives << spoolArchive(path);
    }

    // Each report is printed as soon as it is found.
    ArchiveSearch search;
    qint64 found = 0;
    QObject::connect(&search, &ArchiveSearch::hitsFound, [&](const QList<ArchiveSearchHit>& hits) {
        for (const ArchiveSearchHit& hit : hits) {
            const ReportHeader& h = hit.report;
            OrderedJson json;
            json.add(QStringLiteral("file"), h.fileName);
            json.add(QStringLiteral("title"), textValue(h.title));
            json.add(QStringLiteral("period"), textValue(h.period));
            json.add(QStringLiteral("created"), createdValue(h));
            json.add(QStringLiteral("page"), hit.page);
            json.add(QStringLiteral("line"), hit.line);
            json.add(QStringLiteral("hits"), hit.hits);
            ctx.out << json.line() << '\n';
        }
        ctx.out.flush();
        found += hits.size();
    });
    QEventLoop loop;
    QObject::connect(&search, &ArchiveSearch::finished, &loop, &QEventLoop::quit);
    search.start(archives, text, ignoreDiacritics);
    loop.exec();
    return found > 0 ? 0 : 1;
}

int run(Context& ctx, QStringList args)
{
    // Taken by the settings constants before any command runs, wherever it stands.
    args.removeIf([](const QString& arg) {
        return platform::isCmdLineSwitch(arg, QStringLiteral("RegSaveSettings"));
    });
    if (args.isEmpty()) {
        ctx.err << "tarnyx-cli: missing COMMAND (tarnyx-cli --help lists the commands)\n";
        return 2;
    }
    const QString command = args.takeFirst();
    Parsed parsed = Parsed::Error;
    Arguments arguments;
    const CommandForm* found = nullptr;
    if (command == QLatin1String("--help")) {
        parsed = Parsed::Help;
    } else if (command == QLatin1String("--version")) {
        parsed = Parsed::Version;
    } else {
        for (const CommandForm& form : kCommands)
            if (command == QLatin1String(form.name))
                found = &form;
        if (!found) {
            ctx.err << "tarnyx-cli: unknown command " << platform::displayFileName(command)
                    << " (tarnyx-cli --help lists the commands)\n";
            return 2;
        }
        parsed = parseArguments(ctx, *found, args, arguments);
    }
    switch (parsed) {
    case Parsed::Help:
        ctx.out << kUsage;
        ctx.out.flush();
        return ctx.out.status() == QTextStream::Ok ? 0 : 1;
    case Parsed::Version:
        ctx.out << "tarnyx-cli " << programVersion() << '\n';
        ctx.out.flush();
        return ctx.out.status() == QTextStream::Ok ? 0 : 1;
    case Parsed::Error:
        return 2;
    case Parsed::Ok:
        break;
    }
    return found->run(ctx, arguments);
}

} // namespace cli

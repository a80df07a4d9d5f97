#include "app/CliCommands.h"

#include "browser/ArchiveScan.h"
#include "browser/ArchiveSearch.h"
#include "config/AppSettings.h"
#include "config/SettingsConstants.h"
#include "core/JobState.h"
#include "platform/FileInfo.h"
#include "platform/FileName.h"
#include "print/JobHost.h"
#include "print/PdfDevice.h"
#include "print/PrintJob.h"
#include "print/PrinterCatalog.h"
#include "report/CodePages.h"
#include "report/OrientationMemory.h"
#include "report/ReportHeader.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QTextStream>

#include <cstdio>
#include <functional>
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
    "commands:\n"
    "  settings           print the effective settings as JSON\n"
    "  header FILE...     print the header of each report file as one JSON line\n"
    "  convert CODEPAGE   convert standard input from a report code page (852, 862, 859)\n"
    "                     to Windows-1250 on standard output\n"
    "  pdf REPORT OUTPUT.pdf [--printer NAME]\n"
    "                     lay the report out and render it into a PDF file (A4, or the page\n"
    "                     layout of the named printer)\n"
    "  print REPORT [--printer NAME]\n"
    "                     print the report on a CUPS printer (the configured one by default)\n"
    "  find TEXT [--no-diacritics] [SPOOLDIR...]\n"
    "                     print each archived report that holds TEXT as one JSON line (the\n"
    "                     archives of the configured spool directories by default); exit\n"
    "                     status 1 when none does\n";

// Answers the questions of a print job without windows: an unknown title follows the width
// rule, and an error is written to stderr.
class CliHost : public JobHost
{
public:
    int askOrientation(const ReportHeader&) override { return OrientByWidth; }
    // The command reports the error itself once the job has ended.
    void showPrintError(PrintJob& job) override { job.setChoice(ErrorChoice::Cancel); }
};

// Prints one report through a print job onto `device`; the report file stays where it is.
int printReport(Context& ctx, const QString& report, AppSettings settings, PrinterDevice& device)
{
    orientationMemory().load();
    JobState state;
    CliHost host;
    {
        PrintJob job(QFileInfo(report).absoluteFilePath(),
                     PrintContext{settings, orientationMemory(), state, device, host});
        job.setDisposeWhenDone(false);
        job.run();
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

// Splits "--printer NAME" off the arguments.
bool takePrinterOption(QStringList& args, QString& printer)
{
    const qsizetype i = args.indexOf(QStringLiteral("--printer"));
    if (i < 0)
        return true;
    if (i + 1 >= args.size())
        return false;
    printer = args.at(i + 1);
    args.remove(i, 2);
    return true;
}

// A queue named on the command line must exist: a typing error never prints elsewhere. The
// installed names (letter case ignored), or the reason and exit status 2.
bool checkQueue(Context& ctx, const char* command, QString& queue)
{
    if (queue.isEmpty())
        return true;
    const QStringList installed = ctx.printers.printerNames();
    const QString found = findInstalledPrinter(installed, queue);
    if (!found.isEmpty()) {
        queue = found;
        return true;
    }
    ctx.err << "tarnyx-cli " << command << ": no printer named " << queue << "; installed: "
            << (installed.isEmpty() ? QStringLiteral("none") : installed.join(QStringLiteral(", ")))
            << '\n';
    return false;
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

int settings(Context& ctx, const QStringList& args)
{
    if (!args.isEmpty()) {
        ctx.err << "tarnyx-cli settings takes no arguments\n";
        return 2;
    }
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

int header(Context& ctx, const QStringList& args)
{
    if (args.isEmpty()) {
        ctx.err << "tarnyx-cli header needs at least one report file\n";
        return 2;
    }
    int status = 0;
    for (const QString& file : args) {
        ReportHeader h(QFileInfo(file).absoluteFilePath());
        QString message;
        OrderedJson json;
        json.add(QStringLiteral("FileName"), h.fileName);
        if (!h.loadHeader(message)) {
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

int convert(Context& ctx, const QStringList& args)
{
    bool ok = false;
    const int codePage = args.size() == 1 ? args.first().toInt(&ok) : 0;
    if (!ok) {
        ctx.err << "usage: tarnyx-cli convert CODEPAGE < input > output\n";
        return 2;
    }
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

int pdf(Context& ctx, const QStringList& arguments)
{
    QStringList args = arguments;
    QString queue;
    if (!takePrinterOption(args, queue) || args.size() != 2) {
        ctx.err << "usage: tarnyx-cli pdf REPORT OUTPUT.pdf [--printer NAME]\n";
        return 2;
    }
    if (!checkQueue(ctx, "pdf", queue))
        return 2;
    AppSettings settings;
    settings.load(ctx.printers);
    // Written beside the target and renamed over it when whole: a failure leaves no new file.
    const QFileInfo target(args.at(1));
    const QString part =
        target.absoluteDir().filePath(QStringLiteral(".%1.part-%2")
                                          .arg(target.fileName())
                                          .arg(QCoreApplication::applicationPid()));
    PdfFileDevice device(part);
    if (!queue.isEmpty()) {
        QPageLayout layout;
        int resolution = 0;
        if (!CupsQueueDevice::queueSetup(queue, layout, resolution)) {
            ctx.err << "tarnyx-cli pdf: no printer named " << queue << '\n';
            return 2;
        }
        device.setPageSetup(layout, resolution);
    }
    settings.printer = device.printerName(); // a document is made, whatever the settings say
    const int status = printReport(ctx, args.at(0), settings, device);
    if (status == 0 &&
        ::rename(platform::encodeFileName(part).constData(),
                 platform::encodeFileName(target.absoluteFilePath()).constData()) != 0) {
        ctx.err << "tarnyx-cli pdf: cannot write " << target.absoluteFilePath() << '\n';
        QFile::remove(part);
        return 1;
    }
    QFile::remove(part);
    return status;
}

int print(Context& ctx, const QStringList& arguments)
{
    QStringList args = arguments;
    QString queue;
    if (!takePrinterOption(args, queue) || args.size() != 1) {
        ctx.err << "usage: tarnyx-cli print REPORT [--printer NAME]\n";
        return 2;
    }
    if (!checkQueue(ctx, "print", queue))
        return 2;
    AppSettings settings;
    settings.load(ctx.printers);
    if (!queue.isEmpty())
        settings.printer = queue;
    if (settings.printer.isEmpty())
        settings.printer = ctx.printers.defaultPrinterName();
    if (settings.printer.isEmpty()) {
        ctx.err << "tarnyx-cli print: no printer is installed\n";
        return 1;
    }
    CupsQueueDevice device;
    return printReport(ctx, args.at(0), settings, device);
}

int find(Context& ctx, const QStringList& args)
{
    const auto usage = [&ctx] {
        ctx.err << "usage: tarnyx-cli find TEXT [--no-diacritics] [SPOOLDIR...]\n";
        return 2;
    };
    bool ignoreDiacritics = false;
    QStringList operands;
    for (const QString& arg : args) {
        if (arg == QLatin1String("--no-diacritics"))
            ignoreDiacritics = true;
        else if (arg.startsWith(QLatin1String("--")) && operands.isEmpty())
            return usage(); // an unknown option, not the text
        else
            operands << arg;
    }
    if (operands.isEmpty() || operands.first().isEmpty())
        return usage();
    const QString text = operands.takeFirst();
    QStringList archives;
    if (operands.isEmpty()) {
        AppSettings settings;
        settings.load(ctx.printers);
        archives = archiveDirectories(settings.directories);
    }
    for (const QString& spool : std::as_const(operands)) {
        archives << platform::includeTrailingPathDelimiter(QFileInfo(spool).absoluteFilePath()) +
                        QStringLiteral("BAKPRN");
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

int run(Context& ctx, const QStringList& args)
{
    using Command = std::function<int(Context&, const QStringList&)>;
    const std::pair<const char*, Command> commands[] = {
        {"settings", settings}, {"header", header}, {"convert", convert},
        {"pdf", pdf},           {"print", print},   {"find", find},
    };
    if (!args.isEmpty()) {
        for (const auto& [name, command] : commands)
            if (args.first() == QLatin1String(name))
                return command(ctx, args.mid(1));
    }
    ctx.err << kUsage;
    return 2;
}

} // namespace cli

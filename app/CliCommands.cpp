#include "app/CliCommands.h"

#include "config/AppSettings.h"
#include "config/TxConsts.h"
#include "core/JobState.h"
#include "print/JobHost.h"
#include "print/PdfDevice.h"
#include "print/PrinterCatalog.h"
#include "print/UnitPrn.h"
#include "report/CodePages.h"
#include "report/UnitLstObj.h"
#include "report/UnitOrient.h"

#include <QCoreApplication>
#include <QDir>
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
    "                     print the report on a CUPS printer (the configured one by default)\n";

// Answers the questions of a print job without windows: an unknown title follows the width
// rule, and an error is written to stderr.
class CliHost : public JobHost
{
public:
    int askOrientation(const TLstObj&) override { return OrientByWidth; }
    // The command reports the error itself once the job has ended.
    void showPrintError(TPrnObj& job) override { job.Choice = ErrorChoice::Cancel; }
};

// Prints one report through a print job onto `device`; the report file stays where it is.
int printReport(Context& ctx, const QString& report, TAppSettings settings, PrinterDevice& device)
{
    LstList().Load();
    JobState state;
    CliHost host;
    {
        TPrnObj job(QFileInfo(report).absoluteFilePath(),
                    PrintContext{settings, LstList(), state, device, host});
        job.DisposeWhenDone = false;
        job.Run();
    }
    const QString error = state.TakeWorkerError();
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
    const QString found = FindInstalledPrinter(installed, queue);
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
    return Cp1250ToUnicode(cp1250);
}

} // namespace

int settings(Context& ctx, const QStringList& args)
{
    if (!args.isEmpty()) {
        ctx.err << "tarnyx-cli settings takes no arguments\n";
        return 2;
    }
    TAppSettings s;
    s.LoadSettings(ctx.printers);
    const SettingsConstants& c = TxConsts();

    OrderedJson json;
    json.add(QStringLiteral("Directories"), s.Directories);
    json.add(QStringLiteral("Printer"), s.Printer);
    json.add(QStringLiteral("Font"), s.Font);
    json.add(QStringLiteral("Erase"), s.Erase);
    json.add(QStringLiteral("Iconize"), s.Iconize);
    json.add(QStringLiteral("Autorun"), s.Autorun);
    json.add(QStringLiteral("RunPaused"), s.RunPaused);
    json.add(QStringLiteral("PrintByOne"), s.PrintByOne);
    json.add(QStringLiteral("ShowHints"), s.ShowHints);
    json.add(QStringLiteral("MaxPortrait"), s.MaxPortrait);
    json.add(QStringLiteral("HighPriority"), s.HighPriority);
    json.add(QStringLiteral("ProxyServer"), s.ProxyServer);
    json.add(QStringLiteral("ProxyAddr"), s.ProxyAddr);
    json.add(QStringLiteral("ProxyPort"), s.ProxyPort);
    json.add(QStringLiteral("VerCheck"), s.VerCheck);
    json.add(QStringLiteral("LastVerCheck"), s.LastVerCheck);
    json.add(QStringLiteral("Indent"), s.Indent);
    json.add(QStringLiteral("BorderLeft"), s.Borders.left());
    json.add(QStringLiteral("BorderTop"), s.Borders.top());
    json.add(QStringLiteral("BorderRight"), s.Borders.right());
    json.add(QStringLiteral("BorderBottom"), s.Borders.bottom());
    json.add(QStringLiteral("SystemFont"), s.SystemFont);
    json.add(QStringLiteral("WndTaskbar"), s.WndTaskbar);
    json.add(QStringLiteral("Orientation"), s.Orientation);
    json.add(QStringLiteral("HintHidePause"), s.HintHidePause);
    json.add(QStringLiteral("SocketTimeout"), c.SocketTimeout);
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
        TLstObj h(QFileInfo(file).absoluteFilePath());
        QString message;
        OrderedJson json;
        json.add(QStringLiteral("FileName"), h.FileName);
        if (!h.LoadHeader(message)) {
            json.add(QStringLiteral("error"), message);
            ctx.out << json.line() << '\n';
            status = 1;
            continue;
        }
        json.add(QStringLiteral("FileSize"), h.FileSize);
        json.add(QStringLiteral("FileTime"), qint64(h.FileTime));
        json.add(QStringLiteral("Version"), h.Version);
        json.add(QStringLiteral("DateText"), textValue(h.DateText));
        json.add(QStringLiteral("TimeText"), textValue(h.TimeText));
        json.add(QStringLiteral("Created"), h.Created.hasDate()
                                                ? QJsonValue(h.Created.toIsoString())
                                                : QJsonValue(QJsonValue::Null));
        json.add(QStringLiteral("Year"), h.Year);
        json.add(QStringLiteral("Month"), h.Month);
        json.add(QStringLiteral("Title"), textValue(h.Title));
        json.add(QStringLiteral("Width"), h.Width);
        json.add(QStringLiteral("Pages"), h.Pages);
        json.add(QStringLiteral("LinesPerPage"), h.LinesPerPage);
        json.add(QStringLiteral("CodePage"), h.CodePage);
        json.add(QStringLiteral("Scale"), h.Scale);
        json.add(QStringLiteral("Frames"), h.Frames);
        json.add(QStringLiteral("Period"), textValue(h.Period));
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
        if (out.write(ConvertReportText(chunk, codePage)) != chunk.size()) {
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
    TAppSettings settings;
    settings.LoadSettings(ctx.printers);
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
    settings.Printer = device.printerName(); // a document is made, whatever the settings say
    const int status = printReport(ctx, args.at(0), settings, device);
    if (status == 0 && ::rename(QFile::encodeName(part).constData(),
                                QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
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
    TAppSettings settings;
    settings.LoadSettings(ctx.printers);
    if (!queue.isEmpty())
        settings.Printer = queue;
    if (settings.Printer.isEmpty())
        settings.Printer = ctx.printers.defaultPrinterName();
    if (settings.Printer.isEmpty()) {
        ctx.err << "tarnyx-cli print: no printer is installed\n";
        return 1;
    }
    CupsQueueDevice device;
    return printReport(ctx, args.at(0), settings, device);
}

int run(Context& ctx, const QStringList& args)
{
    using Command = std::function<int(Context&, const QStringList&)>;
    const std::pair<const char*, Command> commands[] = {
        {"settings", settings}, {"header", header}, {"convert", convert},
        {"pdf", pdf},           {"print", print},
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

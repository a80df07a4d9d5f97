#pragma once

#include <QHash>
#include <QStringList>

class PrinterCatalog;
class QTextStream;

// The commands of tarnyx-cli. Each returns the process exit status.
namespace cli {

struct Context
{
    PrinterCatalog& printers;
    QTextStream& out;
    QTextStream& err;
};

// One command's arguments, its options taken out.
struct Arguments
{
    QStringList operands;
    QStringList flags;              // the options given that take no value
    QHash<QString, QString> values; // the options with a value: name, value
};

// Prints the effective settings and settings constants as one JSON object.
int settings(Context& ctx, const Arguments& args);

// Prints the header of each report file as one JSON object a line; 1 when any header fails.
int header(Context& ctx, const Arguments& args);
// Converts standard input from a report code page to Windows-1250 on standard output.
int convert(Context& ctx, const Arguments& args);

// Renders a report into a PDF file / prints it on a CUPS queue, as a print job does, without
// disposing of the report file.
int pdf(Context& ctx, const Arguments& args);
int print(Context& ctx, const Arguments& args);

// Prints each archived report that holds a text as one JSON object a line (file, title, period,
// created, page and line of the first hit, hits); 1 when no report holds it.
int find(Context& ctx, const Arguments& args);

// Runs the command named by args[0]. A usage error (an unknown command or option, a missing or
// extra argument) writes one line to stderr and returns 2; "--help" and "--version" print to
// stdout and return 0.
int run(Context& ctx, QStringList args);

} // namespace cli

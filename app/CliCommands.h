#pragma once

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

// Prints the effective settings and settings constants as one JSON object.
int settings(Context& ctx, const QStringList& args);

// Prints the header of each report file as one JSON object a line; 1 when any header fails.
int header(Context& ctx, const QStringList& args);
// Converts standard input from a report code page to Windows-1250 on standard output.
int convert(Context& ctx, const QStringList& args);

// Renders a report into a PDF file / prints it on a CUPS queue, as a print job does, without
// disposing of the report file.
int pdf(Context& ctx, const QStringList& args);
int print(Context& ctx, const QStringList& args);

// Prints each archived report that holds a text as one JSON object a line (file, title, period,
// created, page and line of the first hit, hits); 1 when no report holds it, 2 on a usage error.
int find(Context& ctx, const QStringList& args);

// Runs the command named by args[0]; unknown commands print the usage and return 2.
int run(Context& ctx, const QStringList& args);

} // namespace cli
